#include "mail/mail_golden.h"
#include "mail/pop3/pop3_client.h"
#include "mail/pop3/pop3_login_check.h"

#include <gtest/gtest.h>
#include <string>

namespace {

TEST(Pop3LoginCheck, Exchanges) {
    for (const auto& record : mail_golden::ReadCases(GOLDEN_PATH("login_checks.cases"))) {
        SCOPED_TRACE(record.at(0));
        Pop3LoginCheck x;
        x.user = "hanako";
        x.password = "secret";
        std::string sent;
        using S = const std::string&;
        mail_golden::Play(
            record,
            {{"apop", [&](S) { x.apop = true; }},
             {"stls", [&](S) { x.stls = true; }},
             {"user", [&](S a) { x.user = a; }},
             {"password", [&](S a) { x.password = a; }},
             {"reply",
              [&](S a) {
                  std::string command = x.line(a);
                  if (x.startTls) {
                      sent += "<TLS>\n";
                      command = x.after_tls();
                  }
                  if (!command.empty()) sent += command + "\n";
              }},
             {"sent", [&](S a) { EXPECT_EQ(sent, a); }},
             {"outcome", [&](S a) { EXPECT_EQ(static_cast<int>(x.outcome), std::stoi(a)); }},
             {"refusal", [&](S a) { EXPECT_EQ(x.refusal, a); }},
             {"done", [&](S) { EXPECT_EQ(x.step, Pop3LoginCheck::Done); }}});
    }
}

} // namespace
