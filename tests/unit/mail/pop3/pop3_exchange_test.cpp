#include "mail/mail_fixture.h"
#include "mail/mail_golden.h"
#include "mail/net/mail_tls.h"
#include "mail/pop3/pop3_client.h"
#include "mail/pop3/pop3_login_check.h"
#include "store/mail_security.h"
#include <cstring>
#include <poll.h>

namespace {

uint16_t StepNamed(const std::string& name) {
#define STEP(n) std::pair<const char*, uint16_t>(#n, n)
    static const std::pair<const char*, uint16_t> kSteps[] = {
        STEP(AwaitGreeting), STEP(AwaitGreetingApop), STEP(UserSent),        STEP(PassSent),
        STEP(StatSent),      STEP(ListingFull),       STEP(FetchingHeaders), STEP(Deleting),
        STEP(Quitting),      STEP(TlsFailed)};
#undef STEP
    return ValueNamed(kSteps, name, "step", uint16_t{0});
}

// A POP3 exchange of taro's, the test playing the server.
class Pop3Exchange : public MailTest {
protected:
    // A new connection, and taro's first set as the fixture made it.
    void Fresh() {
        MailTest::Fresh();
        snprintf(taro->set[0].id, sizeof taro->set[0].id, "taro");
        snprintf(taro->set[0].password, sizeof taro->set[0].password, "pw");
    }
    // The server sends bytes; the client takes everything there is. Returns
    // the last result of pop3_poll.
    int Reply(const std::string& bytes) {
        EXPECT_EQ(send(peer, bytes.data(), bytes.size(), 0), static_cast<ssize_t>(bytes.size()));
        int r = 0;
        pollfd p{c->mail.socket, POLLIN, 0};
        while (r == 0 && poll(&p, 1, 0) > 0) r = pop3_poll(*c);
        return r;
    }
    void Start(PageState state, uint16_t step) {
        c->state = state;
        c->workerResult = step;
    }

    // One record of exchanges.cases; "golden" sections are added to golden.
    void Play(const mail_golden::Record& record, size_t piece, std::string& golden) {
        static const std::pair<const char*, uint16_t> kStatus[] = {
            {"none", kPop3None},
            {"login-failed", kPop3LoginFailed},
            {"mail-not-found", kPop3MailNotFound}};
        std::string sent;
        auto reply = [&](const std::string& bytes) {
            return mail_golden::InPieces(bytes, piece, [&](const std::string& part) {
                const int r = Reply(part);
                sent += Sent();
                return r;
            });
        };
        // "set text": the number of a settings set, then the rest.
        auto setOf = [](const std::string& a) { return std::stoi(a); };
        auto rest = [](const std::string& a) { return a.substr(std::min(a.size(), size_t{2})); };
        using S = const std::string&;
        mail_golden::Play(
            record,
            {{"start",
              [&](S a) {
                  const size_t blank = a.find(' ');
                  Start(StateNamed(a.substr(0, blank)), StepNamed(a.substr(blank + 1)));
              }},
             {"reply", [&](S a) { EXPECT_EQ(reply(a), 0); }},
             {"reply-ends", [&](S a) { EXPECT_EQ(reply(a), 1); }},
             {"sent",
              [&](S a) {
                  EXPECT_EQ(sent + Sent(), a);
                  sent.clear();
              }},
             {"result", [&](S a) { EXPECT_EQ(c->workerResult, StepNamed(a)); }},
             {"now", [&](S a) { EXPECT_EQ(c->state, StateNamed(a)); }},
             {"deleted", [&](S a) { EXPECT_EQ(c->pop3.deletedCount, std::stoi(a)); }},
             {"page", [&](S a) { EXPECT_NE(out.find(a), std::string::npos) << out; }},
             {"page-empty", [&](S) { EXPECT_EQ(out, ""); }},
             {"golden", [&](S a) { golden += mail_golden::Section(a, MaskDates(out)); }},
             {"tls-not-offered",
              [&](S) {
                  EXPECT_EQ(c->mail.tlsFailure, static_cast<uint8_t>(TlsFailure::NotOffered));
              }},
             {"status",
              [&](S a) {
                  EXPECT_EQ(taro->runtime.pop3Status[setOf(a)],
                            ValueNamed(kStatus, rest(a), "status", uint16_t{1}));
              }},
             {"error-text",
              [&](S a) { EXPECT_EQ(taro->runtime.pop3ErrorText[setOf(a)], rest(a)); }},
             {"security", [&](S) { c->pop3.security = static_cast<uint8_t>(Pop3Security::Stls); }},
             {"delete",
              [&](S a) { snprintf(c->deleteList, sizeof c->deleteList, "%s", a.c_str()); }},
             {"ahead-multiline",
              [&](S a) {
                  c->pop3.ahead = static_cast<uint16_t>(std::stoi(a));
                  c->pop3.aheadMultiline = 1;
              }},
             {"oauth",
              [&](S a) {
                  c->pop3.oauth = 1;
                  snprintf(c->saslResponse, sizeof c->saslResponse, "%s", a.c_str());
              }},
             {"detail",
              [&](S a) { snprintf(c->saslDetail, sizeof c->saslDetail, "%s", a.c_str()); }},
             {"item", [&](S a) { c->itemNumber = std::stoi(a); }},
             {"line", [&](S a) { EXPECT_EQ(c->line, a); }},
             {"idle", [&](S) { c->lastActivity = 0; }},
             {"still-idle", [&](S) { EXPECT_EQ(c->lastActivity, 0); }},
             {"active", [&](S) { EXPECT_GE(c->lastActivity, Now() - 1); }},
             {"set", [&](S a) { c->settingsIndex = static_cast<int16_t>(setOf(a)); }},
             {"parent", [&](S) { c->parent = c.get(); }}, // only its presence counts
             {"header-phase", [&](S) { c->pop3.headerPhase = 1; }},
             {"id",
              [&](S a) { snprintf(taro->set[0].id, sizeof taro->set[0].id, "%s", a.c_str()); }},
             {"password", [&](S a) {
                  snprintf(taro->set[0].password, sizeof taro->set[0].password, "%s", a.c_str());
              }}});
        c->parent = nullptr;
    }
};

TEST_F(Pop3Exchange, Exchanges) {
    std::string golden;
    for (const auto& record : mail_golden::ReadCases(GOLDEN_PATH("exchanges.cases")))
        for (size_t piece : mail_golden::Pieces(record, 1 << 20)) {
            SCOPED_TRACE(testing::Message() << record.at(1) << " / piece " << piece);
            Fresh();
            Play(record, piece, golden);
        }
    EXPECT_GOLDEN("error_pages.ref", golden);
}

TEST_F(Pop3Exchange, ApopDigestOfThePublishedExample) {
    char digest[33];
    apop_digest("<1896.697170952@dbc.mtview.ca.us>", "tanstaaf", digest);
    EXPECT_STREQ(digest, "c4c9334bac560ecc979e58001b3e22fb");
}

TEST_F(Pop3Exchange, LineAssembly) {
    Start(PageState::ListWait, UserSent);
    // An over-long line keeps the first 4095 bytes, never half a two-byte
    // character, and the next line is read normally.
    std::string longLine = "+OK " + std::string(4090, 'x') + "\x82\xa0" + std::string(3000, 'y');
    EXPECT_EQ(Reply(longLine + "\r\n"), 0);
    EXPECT_EQ(Sent(), "PASS pw\r\n");
    EXPECT_EQ(std::string(c->line), longLine.substr(0, 4094));
    longLine = "-ERR " + std::string(4088, 'z') + "\x82\xa0" + "tail";
    EXPECT_EQ(Reply(longLine + "\r\n"), 0);
    EXPECT_EQ(std::string(c->line), longLine.substr(0, 4095));
    EXPECT_EQ(Sent(), "QUIT\r\n");

    // The QUIT reply ends the exchange; anything after it is not read.
    EXPECT_EQ(Reply("+OK bye\r\n+OK more\r\n"), 1);
    EXPECT_EQ(c->workerResult, Quitting);
    close(peer);
    peer = -1;
    EXPECT_EQ(pop3_poll(*c), -1);
}

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
