#include "mail/pop3/pop3_client.h"
#include "mail/pop3/pop3_login_check.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

// Plays replies to a fresh check; returns the commands it sent, one per
// line, "<TLS>" where it asked for the upgrade.
std::string Play(Pop3LoginCheck& x, const std::vector<std::string>& replies) {
    std::string sent;
    for (const std::string& r : replies) {
        std::string command = x.line(r);
        if (x.startTls) {
            sent += "<TLS>\n";
            command = x.after_tls();
        }
        if (!command.empty()) sent += command + "\n";
    }
    return sent;
}

Pop3LoginCheck Check(bool apop = false, bool stls = false) {
    Pop3LoginCheck x;
    x.user = "hanako";
    x.password = "secret";
    x.apop = apop;
    x.stls = stls;
    return x;
}

TEST(Pop3LoginCheck, AnswersTheLoginAndNothingMore) {
    Pop3LoginCheck ok = Check();
    EXPECT_EQ(Play(ok, {"+OK ready", "+OK", "+OK logged in", "+OK bye"}),
              "USER hanako\nPASS secret\nQUIT\n");
    EXPECT_EQ(ok.outcome, LoginCheckOutcome::Accepted);
    EXPECT_EQ(ok.step, Pop3LoginCheck::Done);

    Pop3LoginCheck refused = Check();
    EXPECT_EQ(Play(refused, {"+OK ready", "+OK", "-ERR [AUTH] Authentication failed."}),
              "USER hanako\nPASS secret\nQUIT\n");
    EXPECT_EQ(refused.outcome, LoginCheckOutcome::Refused);
    EXPECT_EQ(refused.refusal, "-ERR [AUTH] Authentication failed.");

    Pop3LoginCheck unknown = Check();
    EXPECT_EQ(Play(unknown, {"+OK ready", "-ERR no such user"}), "USER hanako\nQUIT\n");
    EXPECT_EQ(unknown.outcome, LoginCheckOutcome::Refused);

    Pop3LoginCheck busy = Check();
    EXPECT_EQ(Play(busy, {"-ERR too many connections"}), "QUIT\n");
    EXPECT_EQ(busy.outcome, LoginCheckOutcome::ConnectFailed);
}

TEST(Pop3LoginCheck, ApopUsesTheStampOfTheGreetingEvenAfterStls) {
    char hex[33];
    apop_digest("<1.2@mail.example>", "secret", hex);
    Pop3LoginCheck x = Check(true, true);
    EXPECT_EQ(Play(x, {"+OK ready <1.2@mail.example>", "+OK", "USER", "STLS", ".", "+OK begin TLS",
                       "+OK welcome"}),
              std::string("CAPA\nSTLS\n<TLS>\nAPOP hanako ") + hex + "\nQUIT\n");
    EXPECT_EQ(x.outcome, LoginCheckOutcome::Accepted);
}

TEST(Pop3LoginCheck, StlsRequiredButNotOfferedSendsNoLogin) {
    for (const std::vector<std::string>& capa :
         {std::vector<std::string>{"+OK", "USER", "SASL PLAIN", "STLSX", "."},
          std::vector<std::string>{"-ERR unknown command"}}) {
        Pop3LoginCheck x = Check(false, true);
        std::vector<std::string> replies = {"+OK ready"};
        replies.insert(replies.end(), capa.begin(), capa.end());
        EXPECT_EQ(Play(x, replies), "CAPA\nQUIT\n");
        EXPECT_EQ(x.outcome, LoginCheckOutcome::SecureFailed);
    }
    Pop3LoginCheck refusedUpgrade = Check(false, true);
    EXPECT_EQ(Play(refusedUpgrade, {"+OK ready", "+OK", "STLS", ".", "-ERR not now"}),
              "CAPA\nSTLS\nQUIT\n");
    EXPECT_EQ(refusedUpgrade.outcome, LoginCheckOutcome::SecureFailed);
}

TEST(Pop3LoginCheck, ALoginThatCouldEndTheCommandLineIsNeverSent) {
    Pop3LoginCheck x = Check();
    x.password = "secret\r\nDELE 1";
    EXPECT_EQ(Play(x, {"+OK ready"}), "QUIT\n") << "not even the user name goes out";
    x = Check();
    x.user = "a\nb";
    EXPECT_EQ(Play(x, {"+OK ready"}), "QUIT\n");
    EXPECT_EQ(x.outcome, LoginCheckOutcome::Refused);
}

} // namespace
