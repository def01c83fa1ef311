// Starting the SMTP exchange and the worker thread that runs it.
#include "mail/smtp/smtp_client.h"

#include "host/global_lock.h"
#include "mail/charset/sjis.h"
#include "mail/compose/compose_message.h"
#include "mail/date/local_seconds.h"
#include "mail/pop3/mail_connect.h"
#include "mail/pop3/pop3_client.h"
#include "mail/smtp/smtp_state.h"
#include "server/output/page_frame.h"
#include "server/route/evaluate.h"
#include "store/data_file.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace {

// How long one wait blocks before the worker looks at the page state again;
// a reply wakes it at once.
constexpr int kWaitStepMs = 200;

bool StillSending(const Connection& c) {
    return c.state.load() == PageState::SendWait;
}

// Connects without blocking the worker for longer than one wait step, so a
// page the dispatcher has given up on ends the attempt.
bool Connect(Connection& c) {
    return mail_connect(c.mailSocket, c.mailServerAddress, kWaitStepMs,
                        [&] { return StillSending(c); });
}

// A POP3 exchange of the same user may be moving files of the temp folder;
// the send waits for it.
bool WaitWhileBusy(Connection& c) {
    while (c.user->runtime.busy.load() == 1) {
        if (!StillSending(c)) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

void RunExchange(Connection& c) {
    char buffer[kLineSize];
    for (;;) {
        pollfd p{c.mailSocket, POLLIN, 0};
        const int k = poll(&p, 1, kWaitStepMs);
        if (k < 0 && errno != EINTR) return;
        if (k <= 0) continue;
        const ssize_t n = recv(c.mailSocket, buffer, sizeof buffer, 0);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) return;
        if (smtp_feed(c, buffer, static_cast<size_t>(n))) return;
    }
}

void WorkerMain(Connection* cp) {
    Connection& c = *cp;
    smtp_worker(c);
    c.workerRunning = false; // c may be freed from here on
}

} // namespace

void smtp_recipient_lines(Connection& c) {
    OutgoingMail& m = c.send;
    snprintf(m.toLine, sizeof m.toLine, "To: %s\r\n", m.sendTo);
    snprintf(m.ccLine, sizeof m.ccLine, "Cc: %s\r\n", m.sendCc);
    snprintf(m.bccLine, sizeof m.bccLine, "Bcc: %s\r\n", m.sendBcc);
}

void start_smtp(Connection& c) {
    c.workerResult = kSmtpConnecting;
    if (!c.user) {
        c.workerResult = kSmtpConnectFailed;
        return;
    }
    BasicSettings& s = data_store().settings;
    const int set = c.settingsIndex >= 0 && c.settingsIndex < kSettingsSets ? c.settingsIndex : 0;
    const int port = s.smtp_port > 0 && s.smtp_port <= 65535 ? s.smtp_port : 25;
    char server[sizeof s.smtp_server];
    if (!s.per_user_servers) {
        sjis_copy(server, s.smtp_server);
    } else {
        std::lock_guard<std::recursive_mutex> hold(globalLock);
        char(&own)[sizeof s.smtp_server] = c.user->set[set].smtp_name;
        if (!own[0]) sjis_copy(own, s.smtp_server);
        sjis_copy(server, own);
    }
    if (!pop3_resolve(server, port, c.mailServerAddress)) {
        c.workerResult = kSmtpHostNotFound;
        return;
    }
    const int family = c.mailServerAddress.ss_family;
    const int fd = socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return; // the dispatcher reports it after the time-out
    sockaddr_storage local{};
    local.ss_family = static_cast<sa_family_t>(family);
    if (bind(fd, reinterpret_cast<sockaddr*>(&local), mail_address_length(local)) != 0) {
        c.workerResult = kSmtpConnectFailed;
        close(fd);
        return;
    }
    c.mailSocket = fd;
    c.workerRunning = true;
    try {
        c.workerThread = std::thread(WorkerMain, &c);
    } catch (const std::system_error&) {
        c.workerRunning = false;
    }
}

void smtp_worker(Connection& c) {
    if (!Connect(c)) {
        // The dispatcher writes the page; shut down rather than closed, since
        // it may shut the socket down at the same moment.
        c.workerResult = kSmtpConnectFailed;
        shutdown(c.mailSocket, SHUT_RDWR);
        RemoveUploads(c);
        return;
    }
    if (WaitWhileBusy(c)) {
        c.lineLength = 0;
        c.send.successShown = 0;
        c.lastActivity = static_cast<int32_t>(local_seconds());
        smtp_recipient_lines(c);
        FormSenderLines(c);
        c.workerResult = kSmtpAwaitGreeting;
        RunExchange(c);
    }
    shutdown(c.mailSocket, SHUT_RDWR);
    // Files of a send that ended before its message went out are not kept.
    RemoveUploads(c);
    PageState s = PageState::SendWait;
    if (c.state.load() == s) {
        EndPage(c, kPagePre | kPageBody | kPageHtml);
        c.state.compare_exchange_strong(s, PageState::Done);
    }
}

void install_smtp_client() {
    StartSendWorker = start_smtp;
}
