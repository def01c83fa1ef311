// The worker that asks the POP3 server about a registration's login.
#include "account/registration_check.h"
#include "account/settings_form.h"
#include "account/settings_page.h"
#include "account/settings_steps.h"
#include "base/charset/sjis.h"
#include "mail/net/mail_connect.h"
#include "mail/pop3/pop3_login_check.h"
#include "store/data_file.h"

#include <system_error>
#include <thread>

namespace {

struct Question {
    std::string host;
    MailSecurity security;
    Pop3LoginCheck check;
};

void Ask(Connection& c, Question* q) {
    const LoginCheckOutcome outcome =
        run_pop3_login_check(q->host.c_str(), q->security, q->check, workerTimeoutSeconds);
    sjis_copy(c.formSlots[kSlotCheckRefusal], q->check.refusal.c_str());
    delete q;
    c.workerResult = static_cast<int>(outcome);
    WorkerFinished(c);
}

} // namespace

void StartRegistrationPop3Check(Connection& c) {
    c.workerResult = static_cast<int>(LoginCheckOutcome::ConnectFailed);
    const BasicSettings& b = data_store().settings;
    // The server, the security and APOP the new account would use.
    const SettingsSet probe = registration_probe(c);
    auto* q = new Question;
    q->host = b.per_user_servers && probe.pop3_name[0] ? probe.pop3_name : b.pop3_server;
    q->security = mail_security_of(b, probe);
    q->check.user = probe.id;
    q->check.password = probe.password;
    q->check.apop = probe.apop_flag != 0;
    if (c.workerThread.joinable()) c.workerThread.join();
    c.workerRunning = true;
    try {
        c.workerThread.start([&c, q] { Ask(c, q); });
    } catch (const std::system_error&) {
        delete q;
        WorkerFinished(c);
    }
}
