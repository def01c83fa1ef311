// Whether a POP3 server takes a user name and password, without reading any
// mail: self-registration asks it before an account is made, so nobody can
// take a colleague's name or fill the table with made-up ones.
#pragma once
#include "store/mail_security.h"
#include <string>
#include <string_view>

enum class LoginCheckOutcome : int {
    Running = 0,
    Accepted = 1,
    Refused = 2, // the server said -ERR to the login (its text kept)
    ServerNotFound = 3,
    ConnectFailed = 4, // refused, timed out, closed or spoke no POP3
    SecureFailed = 5,  // TLS could not start or the certificate failed
};

// The exchange without I/O, fed the server's reply lines (without CR LF).
struct Pop3LoginCheck {
    std::string user, password;
    bool apop = false;
    bool stls = false; // STLS required before the login
    // Set by the check.
    enum Step { Greeting, Capa, Stls, User, Pass, Quit, Done } step = Greeting;
    bool stlsOffered = false;
    bool startTls = false; // the caller upgrades the stream now, then calls after_tls()
    std::string stamp;     // the greeting's APOP time stamp, kept across STLS
    LoginCheckOutcome outcome = LoginCheckOutcome::Running;
    std::string refusal;

    // The command to send after line ("" for none yet).
    std::string line(std::string_view reply);
    std::string after_tls();
};

// The whole check against host over the security m asks for: resolve,
// connect, TLS, login, QUIT, each wait at most timeoutSeconds.
LoginCheckOutcome run_pop3_login_check(const char* host, const MailSecurity& m,
                                       Pop3LoginCheck& check, int timeoutSeconds);
