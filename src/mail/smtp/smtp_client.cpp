// Starting the SMTP exchange and the worker thread that runs it.
#include "mail/smtp/smtp_client.h"
#include "base/socket_stream.h"
#include "mail/compose/outgoing.h"
#include "mail/net/mail_link.h"

#include "base/charset/sjis.h"
#include "base/date/local_seconds.h"
#include "base/global_lock.h"
#include "mail/compose/compose_message.h"
#include "mail/net/mail_connect.h"
#include "mail/net/mail_tls.h"
#include "mail/oauth/oauth_client.h"
#include "mail/pop3/pop3_client.h"
#include "mail/smtp/smtp_state.h"
#include "page/output/page_frame.h"
#include "store/data_file.h"
#include "store/mail_security.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <system_error>
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
    return mail_connect(c.mail.socket, c.mail.serverAddress, kWaitStepMs,
                        [&] { return StillSending(c); });
}

// A POP3 exchange of the same user may be moving files of the temp folder;
// the send waits for it.
bool WaitWhileBusy(Connection& c) {
    while (c.user->runtime.busy == 1) {
        if (!StillSending(c)) return false;
        c.user->runtime.busy.WaitFree(kWaitStepMs);
    }
    return true;
}

void RunExchange(Connection& c) {
    char buffer[kLineSize];
    for (;;) {
        const int k = socket_stream_wait(c.mail.socket, c.mail.tls, kWaitStepMs);
        if (k < 0) return;
        if (k == 0) continue;
        const ssize_t n = socket_stream_recv(c.mail.socket, c.mail.tls, buffer, sizeof buffer);
        if (n == -2) continue;
        if (n <= 0) return;
        const bool done = smtp_feed(c, buffer, static_cast<size_t>(n));
        FlushClient(c);
        if (done) return;
    }
}

void WorkerMain(Connection* cp) {
    Connection& c = *cp;
    smtp_worker(c);
    WorkerFinished(c); // c may be freed from here on
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
    char server[sizeof s.smtp_server];
    MailSecurity security;
    if (!s.per_user_servers) {
        sjis_copy(server, s.smtp_server);
        security = mail_security_of(s, c.user->set[set]);
    } else {
        std::lock_guard<std::recursive_mutex> hold(globalLock);
        char(&own)[sizeof s.smtp_server] = c.user->set[set].smtp_name;
        if (!own[0]) sjis_copy(own, s.smtp_server);
        sjis_copy(server, own);
        security = mail_security_of(s, c.user->set[set]);
    }
    {
        // Copied now: the reply reader never reads the record or the store.
        std::lock_guard<std::recursive_mutex> hold(globalLock);
        const SettingsSet& own = c.user->set[set];
        std::string user = own.id, password = own.password;
        if (security.smtpOwnLogin) {
            const MailCredentials& store = data_store().credentials;
            const std::string u = store.get(c.user->set[0].id, own.id, own.pop3_name, "smtp-user");
            if (!u.empty()) {
                user = u;
                password = store.get(c.user->set[0].id, own.id, own.pop3_name, "smtp-password");
            }
        }
        snprintf(c.send.authUser, sizeof c.send.authUser, "%s", user.c_str());
        snprintf(c.send.authPassword, sizeof c.send.authPassword, "%s", password.c_str());
    }
    const int port = security.smtpPort;
    c.send.security = static_cast<uint8_t>(security.smtp);
    c.send.verify = security.verify;
    c.send.oauth = set_uses_oauth(*c.user, set);
    // A mailbox of an OAuth2 provider takes its mail only from a client
    // that logged in with the token.
    c.send.authWanted = security.smtpAuth || c.send.oauth;
    c.send.streamRestarted = 0;
    sjis_copy(c.mail.serverName, server);
    c.mail.tls = nullptr;
    c.mail.tlsFailure = 0;
    if (!pop3_resolve(server, port, c.mail.serverAddress)) {
        c.workerResult = kSmtpHostNotFound;
        return;
    }
    const int family = c.mail.serverAddress.ss_family;
    const int fd = socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return; // the dispatcher reports it after the time-out
    sockaddr_storage local{};
    local.ss_family = static_cast<sa_family_t>(family);
    if (bind(fd, reinterpret_cast<sockaddr*>(&local), mail_address_length(local)) != 0) {
        c.workerResult = kSmtpConnectFailed;
        close(fd);
        return;
    }
    c.mail.socket = fd;
    c.workerRunning = true;
    try {
        c.workerThread.start([&c] { WorkerMain(&c); });
    } catch (const std::system_error&) {
        WorkerFinished(c);
    }
}

void smtp_worker(Connection& c) {
    c.saslResponse[0] = c.saslDetail[0] = '\0';
    if (c.send.oauth) {
        // Renewed here, on the worker and outside the lock, before the
        // server is spoken to.
        const int set =
            c.settingsIndex >= 0 && c.settingsIndex < kSettingsSets ? c.settingsIndex : 0;
        std::string token, why;
        if (!oauth_token_for_set(c.user, set, token, why)) {
            snprintf(c.saslDetail, sizeof c.saslDetail, "%s", why.c_str());
        } else {
            const std::string response = xoauth2_response(c.user->set[set].id, token);
            if (response.size() < sizeof c.saslResponse)
                memcpy(c.saslResponse, response.c_str(), response.size() + 1);
            else
                snprintf(c.saslDetail, sizeof c.saslDetail, "OAuth2: access token too long");
        }
        c.lastActivity = static_cast<int32_t>(local_seconds());
    }
    if (!Connect(c)) {
        // The dispatcher writes the page; shut down rather than closed, since
        // it may shut the socket down at the same moment.
        c.workerResult = kSmtpConnectFailed;
        shutdown(c.mail.socket, SHUT_RDWR);
        RemoveUploads(c);
        return;
    }
    if (c.send.security == static_cast<uint8_t>(SmtpSecurity::Tls) && !smtp_start_tls(c)) {
        // The page's wait writes why; nothing was said in clear.
        c.workerResult = kSmtpTlsFailed;
        shutdown(c.mail.socket, SHUT_RDWR);
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
    mail_tls_end(c.mail.tls);
    shutdown(c.mail.socket, SHUT_RDWR);
    if (c.workerResult == kSmtpTlsFailed) {
        RemoveUploads(c);
        return;
    }
    // Files of a send that ended before its message went out are not kept.
    RemoveUploads(c);
    PageState s = PageState::SendWait;
    if (c.state.load() == s) {
        EndPage(c, kPagePre | kPageBody | kPageHtml);
        c.state.compare_exchange_strong(s, PageState::Done);
    }
}

bool smtp_start_tls(Connection& c) {
    TlsOutcome t =
        mail_tls_start(c.mail.socket, c.mail.serverName, c.send.verify != 0, workerTimeoutSeconds);
    c.mail.tls = t.session;
    c.mail.tlsFailure = static_cast<uint8_t>(t.failure);
    return t.session != nullptr;
}
