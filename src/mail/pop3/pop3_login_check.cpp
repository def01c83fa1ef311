#include "mail/pop3/pop3_login_check.h"

#include "base/socket_stream.h"
#include "base/text/command_text.h"
#include "mail/net/mail_connect.h"
#include "mail/net/mail_tls.h"
#include "mail/pop3/pop3_client.h"

#include <chrono>
#include <sys/socket.h>
#include <unistd.h>

namespace {

bool positive(std::string_view reply) {
    return reply.substr(0, 3) == "+OK";
}

std::string ended(Pop3LoginCheck& x, LoginCheckOutcome outcome, std::string_view refusal = {}) {
    x.outcome = outcome;
    x.refusal = std::string(refusal.substr(0, 200));
    x.step = Pop3LoginCheck::Quit;
    return "QUIT";
}

// The login itself; a value that could end the command line is never sent.
std::string login(Pop3LoginCheck& x) {
    if (!command_text_safe(x.user) || !command_text_safe(x.password))
        return ended(x, LoginCheckOutcome::Refused);
    if (x.apop) {
        char hex[33];
        apop_digest(x.stamp.c_str(), x.password.c_str(), hex);
        x.step = Pop3LoginCheck::Pass;
        return "APOP " + x.user + " " + hex;
    }
    x.step = Pop3LoginCheck::User;
    return "USER " + x.user;
}

} // namespace

std::string Pop3LoginCheck::line(std::string_view reply) {
    switch (step) {
    case Greeting: {
        if (!positive(reply)) return ended(*this, LoginCheckOutcome::ConnectFailed);
        const size_t open = reply.find('<'), close = reply.find('>', open);
        if (open != std::string_view::npos && close != std::string_view::npos)
            stamp = std::string(reply.substr(open, close - open + 1));
        if (!stls) return login(*this);
        step = Capa;
        return "CAPA";
    }
    case Capa:
        // A -ERR to CAPA is a server without capabilities, so without STLS.
        if (reply == "." || reply.substr(0, 1) == "-") {
            if (!stlsOffered) {
                outcome = LoginCheckOutcome::SecureFailed;
                step = Quit;
                return "QUIT";
            }
            step = Stls;
            return "STLS";
        }
        if (reply.size() >= 4 && (reply.substr(0, 4) == "STLS" || reply.substr(0, 4) == "stls") &&
            (reply.size() == 4 || reply[4] == ' '))
            stlsOffered = true;
        return {};
    case Stls:
        if (!positive(reply)) return ended(*this, LoginCheckOutcome::SecureFailed);
        startTls = true;
        return {};
    case User:
        if (!positive(reply)) return ended(*this, LoginCheckOutcome::Refused, reply);
        step = Pass;
        return "PASS " + password;
    case Pass:
        if (!positive(reply)) return ended(*this, LoginCheckOutcome::Refused, reply);
        outcome = LoginCheckOutcome::Accepted;
        step = Quit;
        return "QUIT";
    case Quit:
        step = Done;
        return {};
    case Done:
        return {};
    }
    return {};
}

std::string Pop3LoginCheck::after_tls() {
    startTls = false;
    return login(*this);
}

LoginCheckOutcome run_pop3_login_check(const char* host, const MailSecurity& m,
                                       Pop3LoginCheck& check, int timeoutSeconds) {
    sockaddr_storage address;
    if (!host || !pop3_resolve(host, m.pop3Port, address)) return LoginCheckOutcome::ServerNotFound;
    const int fd = socket(address.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return LoginCheckOutcome::ConnectFailed;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    const auto inTime = [&] { return std::chrono::steady_clock::now() < deadline; };
    ssl_st* tls = nullptr;
    LoginCheckOutcome outcome = LoginCheckOutcome::ConnectFailed;
    check.stls = m.pop3 == Pop3Security::Stls;
    if (mail_connect(fd, address, 100, inTime)) {
        bool secure = true;
        if (m.pop3 == Pop3Security::Tls) {
            TlsOutcome t = mail_tls_start(fd, host, m.verify, timeoutSeconds);
            tls = t.session;
            secure = tls != nullptr;
        }
        std::string pending;
        char buffer[4096];
        while (secure && check.step != Pop3LoginCheck::Done && inTime()) {
            const size_t end = pending.find('\n');
            if (end == std::string::npos) {
                if (pending.size() > 4096) break; // no POP3 server writes such lines
                if (!socket_stream_pending(tls) && socket_stream_wait(fd, tls, 200) <= 0) continue;
                const ssize_t n = socket_stream_recv(fd, tls, buffer, sizeof buffer);
                if (n == -2) continue;
                if (n <= 0) break;
                pending.append(buffer, static_cast<size_t>(n));
                continue;
            }
            std::string reply = pending.substr(0, end);
            pending.erase(0, end + 1);
            if (!reply.empty() && reply.back() == '\r') reply.pop_back();
            std::string command = check.line(reply);
            if (check.startTls) {
                // What came in clear after the +OK is not the server's.
                pending.clear();
                TlsOutcome t = mail_tls_start(fd, host, m.verify, timeoutSeconds);
                tls = t.session;
                if (!tls) {
                    check.outcome = LoginCheckOutcome::SecureFailed;
                    break;
                }
                command = check.after_tls();
            }
            if (!command.empty() &&
                !socket_stream_send(fd, tls, (command + "\r\n").data(), command.size() + 2))
                break;
        }
        if (!secure) check.outcome = LoginCheckOutcome::SecureFailed;
        // The outcome stands once the login was answered, whatever QUIT gets.
        outcome = check.outcome == LoginCheckOutcome::Running ? LoginCheckOutcome::ConnectFailed
                                                              : check.outcome;
    }
    mail_tls_end(tls);
    close(fd);
    return outcome;
}
