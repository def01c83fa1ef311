// The SMTP reply reader, fed the server's side of an exchange in pieces of
// every size; the commands it sends are read from the other end of a socket
// pair. The exchanges are in exchanges.cases.
#include "mail/compose/outgoing.h"
#include "mail/mail_fixture.h"
#include "mail/mail_golden.h"
#include "mail/net/mail_link.h"
#include "mail/net/mail_tls.h"
#include "mail/smtp/smtp_client.h"
#include "mail/smtp/smtp_state.h"
#include "store/mail_security.h"

namespace {

class SmtpReplyTest : public MailTest {
protected:
    void Fresh() {
        MailTest::Fresh();
        strcpy(data_store().settings.smtp_server, "mail.example.jp");
        strcpy(taro->set[0].mail_address, "taro@example.jp");
        std::filesystem::remove(home + "/user/taro.txl");
        c->loginQuery[0] = '\0';
        c->state = PageState::SendWait;
        c->workerResult = kSmtpAwaitGreeting;
    }
    // Entries in taro's sent-mail log: each ends with a line ".".
    int LoggedEntries() {
        std::istringstream log(golden::read(home + "/user/taro.txl"));
        int n = 0;
        for (std::string line; std::getline(log, line);) n += line == "." || line == ".\r";
        return n;
    }
    // One record of exchanges.cases with the replies fed in pieces of piece.
    void Play(const mail_golden::Record& record, size_t piece) {
        static const std::pair<const char*, uint16_t> kSteps[] = {
            {"await-greeting", kSmtpAwaitGreeting},
            {"quit-sent", kSmtpQuitSent},
            {"rcpt-to", kSmtpRcptTo},
            {"tls-failed", kSmtpTlsFailed},
            {"starttls-sent", kSmtpStartTlsSent}};
        auto step = [&](const std::string& a) {
            return ValueNamed(kSteps, a, "step", uint16_t{0});
        };
        std::string sent, before;
        int over = 0;
        mail_golden::Play(
            record,
            {{"piece", [&](S a) { piece = std::stoul(a); }},
             {"to", [&](S a) { strcpy(c->send.sendTo, a.c_str()); }},
             {"bcc", [&](S a) { strcpy(c->send.sendBcc, a.c_str()); }},
             {"text", [&](S a) { strcpy(c->messageText, a.c_str()); }},
             {"helo", [&](S a) { strcpy(data_store().settings.smtp_server, a.c_str()); }},
             {"from", [&](S a) { strcpy(taro->set[0].mail_address, a.c_str()); }},
             {"auth",
              [&](S) {
                  c->send.authWanted = 1;
                  strcpy(c->send.authUser, "taro");
                  strcpy(c->send.authPassword, "pw");
              }},
             {"oauth",
              [&](S a) {
                  c->send.authWanted = c->send.oauth = 1;
                  mail_golden::Put(c->saslResponse, a);
              }},
             {"detail", [&](S a) { mail_golden::Put(c->saslDetail, a); }},
             {"starttls",
              [&](S) { c->send.security = static_cast<uint8_t>(SmtpSecurity::StartTls); }},
             {"state", [&](S a) { c->workerResult = step(a); }},
             {"clear", [&](S) { out.clear(); }},
             {"feed",
              [&](S a) {
                  // The replies in pieces; what the client sent meanwhile.
                  before = out;
                  smtp_recipient_lines(*c);
                  over = mail_golden::InPieces(
                      a, piece, [&](S part) { return smtp_feed(*c, part.data(), part.size()); });
                  sent = Sent();
              }},
             {"sent", [&](S a) { EXPECT_EQ(sent, a); }},
             {"sent-begins", [&](S a) { EXPECT_EQ(sent.substr(0, a.size()), a); }},
             {"sent-ends",
              [&](S a) {
                  EXPECT_EQ(sent.substr(sent.size() - std::min(sent.size(), a.size())), a);
              }},
             {"over", [&](S a) { EXPECT_EQ(over, std::stoi(a)); }},
             {"result", [&](S a) { EXPECT_EQ(c->workerResult, step(a)); }},
             {"tls-not-offered",
              [&](S) {
                  EXPECT_EQ(c->mail.tlsFailure, static_cast<uint8_t>(TlsFailure::NotOffered));
              }},
             {"page", [&](S a) { EXPECT_NE(out.find(a), std::string::npos) << out; }},
             {"page-unchanged", [&](S) { EXPECT_EQ(out, before); }},
             {"logged", [&](S a) { EXPECT_EQ(LoggedEntries(), std::stoi(a)); }}});
    }
};

TEST_F(SmtpReplyTest, Exchanges) {
    for (const auto& record : CASE_BLOCKS("exchanges.cases"))
        for (size_t piece : mail_golden::Pieces(record, 4096)) {
            SCOPED_TRACE(testing::Message() << record.at(1) << " / piece " << piece);
            Fresh();
            Play(record, piece);
        }
}

} // namespace
