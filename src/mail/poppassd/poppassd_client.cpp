// Starting a password change on the POP3 server host, and the worker thread
// that runs it.
#include "mail/poppassd/poppassd_client.h"
#include "base/charset/sjis.h"
#include "base/date/local_seconds.h"
#include "base/global_lock.h"
#include "mail/net/mail_connect.h"
#include "mail/net/mail_link.h"
#include "mail/pop3/pop3_client.h"
#include "mail/poppassd/poppassd_io.h"
#include "store/data_file.h"
#include <functional>
#include <mutex>
#include <netinet/in.h>
#include <sys/socket.h>
#include <system_error>
#include <unistd.h>

namespace {

// The POP3 server of the set, by the rule the POP3 client follows. False when
// per-user servers are on and there is no such set to take the name from.
bool server_name(Connection& c, int setIndex, char (&server)[sizeof BasicSettings::pop3_server]) {
    BasicSettings& s = data_store().settings;
    if (!s.per_user_servers) {
        sjis_copy(server, s.pop3_server);
        return true;
    }
    if (!c.user || setIndex < 0 || setIndex >= kSettingsSets) return false;
    std::lock_guard<std::recursive_mutex> hold(globalLock);
    char(&own)[sizeof s.pop3_server] = c.user->set[setIndex].pop3_name;
    if (!own[0]) sjis_copy(own, s.pop3_server);
    sjis_copy(server, own);
    return true;
}

void close_mail_socket(Connection& c) {
    int fd = c.mail.socket;
    // Cleared before the close, so that a shutdown by the monitor cannot
    // reach a socket that reuses the number.
    c.mail.socket = -1;
    if (fd >= 0) close(fd);
}

} // namespace

void StartPoppassd(Connection& c, int setIndex) {
    c.workerResult = kPoppassdNotStarted;
    char server[sizeof BasicSettings::pop3_server];
    if (!server_name(c, setIndex, server) ||
        !pop3_resolve(server, kPoppassdPort, c.mail.serverAddress)) {
        c.workerResult = kPoppassdHostNotFound;
        return;
    }
    // A socket that cannot be made counts as a failed connection: reporting
    // "nothing started" would let the caller save as if no change was asked.
    c.workerResult = kPoppassdConnectFailed;
    int family = c.mail.serverAddress.ss_family;
    int fd = socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return;
    sockaddr_storage local{};
    local.ss_family = static_cast<sa_family_t>(family);
    if (bind(fd, reinterpret_cast<sockaddr*>(&local), mail_address_length(local)) != 0) {
        close(fd);
        return;
    }
    // A worker of an earlier exchange must have let go of the context; a
    // socket it left open would be lost.
    if (c.workerThread.joinable()) c.workerThread.join();
    close_mail_socket(c);
    c.mail.socket = fd;
    c.workerRunning = true;
    try {
        c.workerThread.start([&c] { PoppassdWorker(c); });
    } catch (const std::system_error&) {
        WorkerFinished(c);
        close_mail_socket(c);
    }
}

void PoppassdWorker(Connection& c) {
    c.workerResult = kPoppassdConnectFailed;
    if (poppassd_connect(c.mail.socket, c.mail.serverAddress, workerTimeoutSeconds)) {
        PoppassdExchange x;
        x.user = c.formSlots[0];
        x.oldPassword = c.formSlots[1];
        x.newPassword = c.formSlots[2];
        c.lineLength = 0;
        c.lastActivity = static_cast<int32_t>(local_seconds());
        c.workerResult = x.step;
        poppassd_converse(c.mail.socket, x, workerTimeoutSeconds, &c.workerResult, &c.lastActivity);
        // Emptied too when the server did not refuse, so that the result
        // page never shows the text of an earlier failure.
        if (c.user) sjis_copy(c.user->runtime.pop3ErrorText[0], x.refusal);
    }
    close_mail_socket(c);
    WorkerFinished(c); // c may be freed from here on
}

int RunPoppassd(const char* host, const char* user, const char* oldPassword,
                const char* newPassword, char (&refusal)[kPoppassdRefusalSize]) {
    refusal[0] = '\0';
    sockaddr_storage address;
    if (!host || !pop3_resolve(host, kPoppassdPort, address)) return kPoppassdHostNotFound;
    int fd = socket(address.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return kPoppassdConnectFailed;
    int outcome = kPoppassdConnectFailed;
    if (poppassd_connect(fd, address, workerTimeoutSeconds)) {
        PoppassdExchange x;
        x.user = user ? user : "";
        x.oldPassword = oldPassword ? oldPassword : "";
        x.newPassword = newPassword ? newPassword : "";
        poppassd_converse(fd, x, workerTimeoutSeconds, nullptr, nullptr);
        sjis_copy(refusal, x.refusal);
        outcome = x.step;
    }
    close(fd);
    return outcome;
}
