// The SMTP reply reader, fed the server's side of an exchange in pieces of
// every size; the commands it sends are read from the other end of a socket
// pair.
#include "mail/net/mail_tls.h"
#include "mail/oauth/oauth_client.h"
#include "mail/smtp/smtp_client.h"
#include "mail/smtp/smtp_state.h"
#include "server/route/page_fixture.h"
#include "store/mail_security.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int gLogged = 0;

class SmtpReplyTest : public PageTest {
protected:
    void SetUp() override {
        PageTest::SetUp();
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair_), 0);
        fcntl(pair_[1], F_SETFL, O_NONBLOCK);
        strcpy(data_store().settings.smtp_server, "mail.example.jp");
        gLogged = 0;
        SentLogAppend = [](Connection&) { gLogged++; };
        c = Capture();
        c->user = LoggedIn("taro");
        strcpy(c->userName, "taro");
        c->mailSocket = pair_[0];
        c->state = PageState::SendWait;
        c->workerResult = kSmtpAwaitGreeting;
    }
    void TearDown() override {
        SentLogAppend = nullptr;
        close(pair_[0]);
        close(pair_[1]);
        c.reset();
        PageTest::TearDown();
    }
    // Feeds the replies split into pieces of the given size; returns what
    // the client sent meanwhile and whether the exchange ended.
    std::string Feed(const std::string& replies, size_t piece, int* over = nullptr) {
        int ended = 0;
        for (size_t at = 0; at < replies.size() && !ended; at += piece)
            ended = smtp_feed(*c, replies.data() + at, std::min(piece, replies.size() - at));
        if (over) *over = ended;
        std::string sent;
        char b[4096];
        ssize_t n;
        while ((n = read(pair_[1], b, sizeof b)) > 0) sent.append(b, static_cast<size_t>(n));
        return sent;
    }
    int pair_[2];
    ConnectionPtr c;
};

TEST_F(SmtpReplyTest, RecipientsInToCcBccOrderThenTheMessage) {
    strcpy(c->send.sendTo, "a@b.c, Taro <t@b.c>,,");
    strcpy(c->send.sendBcc, ",g@h.i");
    strcpy(c->messageText, "hi\r\n");
    smtp_recipient_lines(*c);
    for (size_t piece : {1, 3, 4096}) {
        c->workerResult = kSmtpAwaitGreeting;
        out.clear();
        int over = 0;
        const std::string sent = Feed("220-first\r\n220 second\r\n250 hello\r\n250 from\r\n"
                                      "250 to 1\r\n250 to 2\r\n250 bcc\r\n354 go\r\n250 queued\r\n"
                                      "221 bye\r\n",
                                      piece, &over);
        EXPECT_EQ(over, 1);
        const size_t data = sent.find("DATA\r\n");
        ASSERT_NE(data, std::string::npos) << sent;
        EXPECT_EQ(sent.substr(0, data + 6), "HELO mail.example.jp\r\n"
                                            "MAIL FROM: <taro@example.jp>\r\n"
                                            "RCPT TO: <a@b.c>\r\n"
                                            "RCPT TO: <t@b.c>\r\n"
                                            "RCPT TO: <g@h.i>\r\n"
                                            "DATA\r\n")
            << "piece " << piece;
        EXPECT_EQ(sent.substr(sent.size() - 11), "\r\n.\r\nQUIT\r\n");
        EXPECT_NE(out.find("HTTP/1.0 200 OK"), std::string::npos);
        EXPECT_NE(out.find("Transmission has successfully completed."), std::string::npos);
    }
    EXPECT_EQ(gLogged, 3);
}

TEST_F(SmtpReplyTest, ARefusalEndsWithTheErrorBlockAndNothingLogged) {
    strcpy(c->send.sendTo, "a@b.c,x@b.c");
    smtp_recipient_lines(*c);
    const std::string sent =
        Feed("220 hi\r\n250 hello\r\n250 from\r\n250 a ok\r\n550 5.1.1 <x@b.c> unknown\r\n", 5);
    EXPECT_EQ(sent.find("DATA"), std::string::npos);
    EXPECT_EQ(sent.substr(sent.size() - 6), "QUIT\r\n");
    EXPECT_NE(out.find("Error occurred during mail transmission.<br>"), std::string::npos);
    EXPECT_NE(out.find("550 5.1.1 &lt;x@b.c&gt; unknown"), std::string::npos);
    EXPECT_EQ(c->workerResult, kSmtpQuitSent);
    int over = 0;
    Feed("221 bye\r\n", 9, &over);
    EXPECT_EQ(over, 1);
    EXPECT_EQ(gLogged, 0);

    // A server that refuses the QUIT too (and goes on refusing) ends the
    // exchange there: one error block, one QUIT.
    const std::string page = out;
    c->workerResult = kSmtpQuitSent;
    EXPECT_EQ(Feed("421 closing\r\n554 no\r\n", 3, &over), "");
    EXPECT_EQ(over, 1);
    EXPECT_EQ(out, page);

    // A server that refuses from the start.
    c->workerResult = kSmtpAwaitGreeting;
    out.clear();
    EXPECT_EQ(Feed("554 go away\r\n", 2), "QUIT\r\n");
    EXPECT_NE(out.find("554 go away"), std::string::npos);
}

// The HELO name, the sender and every recipient reach a command line; one
// holding a line break (from an old data file) stops the exchange before
// that command, as a refusing server would, and nothing is logged.
TEST_F(SmtpReplyTest, AValueWithALineBreakIsNeverSent) {
    const struct {
        const char* name;
        const char* helo;
        const char* from;
        const char* to;
        std::string sent; // up to the QUIT
    } cases[] = {
        {"HELO name", "mail.example.jp\r\nRSET", "taro@example.jp", "a@b.c", ""},
        {"sender", "mail.example.jp", "taro@example.jp\r\nRCPT TO: <x@y.z>", "a@b.c",
         "HELO mail.example.jp\r\n"},
        {"second recipient", "mail.example.jp", "taro@example.jp", "a@b.c,x@y.z\nDATA",
         "HELO mail.example.jp\r\nMAIL FROM: <taro@example.jp>\r\nRCPT TO: <a@b.c>\r\n"},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        strcpy(data_store().settings.smtp_server, k.helo);
        strcpy(c->user->set[0].mail_address, k.from);
        strcpy(c->send.sendTo, k.to);
        smtp_recipient_lines(*c);
        c->workerResult = kSmtpAwaitGreeting;
        c->filter.state = 0;
        out.clear();
        EXPECT_EQ(Feed("220 hi\r\n250 hello\r\n250 from\r\n250 to\r\n", 7), k.sent + "QUIT\r\n");
        EXPECT_EQ(c->workerResult, kSmtpQuitSent);
        EXPECT_NE(out.find("HTTP/1.0 200 OK"), std::string::npos);
        EXPECT_NE(out.find("Error occurred during mail transmission."), std::string::npos);
        int over = 0;
        Feed("221 bye\r\n", 9, &over);
        EXPECT_EQ(over, 1);
    }
    EXPECT_EQ(gLogged, 0);
    strcpy(c->user->set[0].mail_address, "taro@example.jp");
}

TEST_F(SmtpReplyTest, LogsInWithWhatEhloOffers) {
    strcpy(c->send.sendTo, "a@b.c");
    smtp_recipient_lines(*c);
    const std::string ehlo = "EHLO mail.example.jp\r\n";
    const std::string from = "MAIL FROM: <taro@example.jp>\r\n";
    const struct {
        const char* name;
        std::string replies;
        std::string sent;
    } cases[] = {
        {"plain", "220 hi\r\n250-mx\r\n250-AUTH LOGIN PLAIN\r\n250 8BITMIME\r\n235 ok\r\n",
         ehlo + "AUTH PLAIN AHRhcm8AcHc=\r\n" + from},
        {"login only",
         "220 hi\r\n250-mx\r\n250 AUTH=LOGIN\r\n334 VXNlcm5hbWU6\r\n"
         "334 UGFzc3dvcmQ6\r\n235 ok\r\n",
         ehlo + "AUTH LOGIN\r\ndGFybw==\r\ncHc=\r\n" + from},
    };
    for (const auto& k : cases)
        for (size_t piece : {1, 5, 4096}) {
            SCOPED_TRACE(std::string(k.name) + " piece " + std::to_string(piece));
            c->workerResult = kSmtpAwaitGreeting;
            c->send.authWanted = 1;
            strcpy(c->send.authUser, "taro");
            strcpy(c->send.authPassword, "pw");
            EXPECT_EQ(Feed(k.replies, piece), k.sent);
            EXPECT_EQ(c->workerResult, kSmtpRcptTo);
        }
}

// A server that offers no way to log in, or no STARTTLS where it is
// required, never sees the password or anything of the message.
TEST_F(SmtpReplyTest, NoPasswordOrEnvelopeWithoutWhatTheSetRequires) {
    strcpy(c->send.sendTo, "a@b.c");
    smtp_recipient_lines(*c);
    c->send.authWanted = 1;
    int over = 0;
    EXPECT_EQ(Feed("220 hi\r\n250-mx\r\n250 AUTH CRAM-MD5\r\n", 3, &over),
              "EHLO mail.example.jp\r\nQUIT\r\n");
    EXPECT_EQ(c->workerResult, kSmtpQuitSent);
    EXPECT_NE(out.find("Error occurred during mail transmission."), std::string::npos);

    c->workerResult = kSmtpAwaitGreeting;
    c->send.authWanted = 1;
    c->send.security = static_cast<uint8_t>(SmtpSecurity::StartTls);
    EXPECT_EQ(Feed("220 hi\r\n250-mx\r\n250-AUTH PLAIN\r\n250 SIZE 100\r\n", 4, &over),
              "EHLO mail.example.jp\r\nQUIT\r\n");
    EXPECT_EQ(over, 1);
    EXPECT_EQ(c->workerResult, kSmtpTlsFailed);
    EXPECT_EQ(c->tlsFailure, static_cast<uint8_t>(TlsFailure::NotOffered));

    // Offered: STARTTLS goes out before anything else.
    c->workerResult = kSmtpAwaitGreeting;
    EXPECT_EQ(Feed("220 hi\r\n250 STARTTLS\r\n", 4), "EHLO mail.example.jp\r\nSTARTTLS\r\n");
    EXPECT_EQ(c->workerResult, kSmtpStartTlsSent);
}

TEST_F(SmtpReplyTest, AnOverlongReplyKeepsItsCode) {
    const std::string reply = "220 " + std::string(9000, 'x') + "\r\n";
    EXPECT_EQ(Feed(reply, 1000), "HELO mail.example.jp\r\n");
}

// XOAUTH2 where EHLO offers it, the response on the AUTH line.
TEST_F(SmtpReplyTest, Xoauth2LoginInAnyPieces) {
    strcpy(c->send.sendTo, "a@b.c");
    smtp_recipient_lines(*c);
    for (size_t piece : {1, 5, 4096}) {
        SCOPED_TRACE(piece);
        c->workerResult = kSmtpAwaitGreeting;
        c->send.authWanted = 1;
        c->send.oauth = 1;
        snprintf(c->saslResponse, sizeof c->saslResponse, "%s",
                 xoauth2_response("taro", "tok").c_str());
        EXPECT_EQ(Feed("220 hi\r\n250-mx\r\n250-AUTH PLAIN XOAUTH2 LOGIN\r\n250 8BITMIME\r\n"
                       "235 2.7.0 ok\r\n",
                       piece),
                  "EHLO mail.example.jp\r\nAUTH XOAUTH2 dXNlcj10YXJvAWF1dGg9QmVhcmVyIHRvawEB\r\n"
                  "MAIL FROM: <taro@example.jp>\r\n");
        EXPECT_EQ(c->workerResult, kSmtpRcptTo);
    }
}

// The refusal's 334 challenge is answered with an empty line, not a
// cancel; the 535 after it ends the send with the server's texts.
TEST_F(SmtpReplyTest, RefusedTokenEndsWithBothTexts) {
    for (size_t piece : {1, 7, 4096}) {
        SCOPED_TRACE(piece);
        out.clear();
        c->workerResult = kSmtpAwaitGreeting;
        c->send.authWanted = 1;
        c->send.oauth = 1;
        c->saslDetail[0] = '\0';
        snprintf(c->saslResponse, sizeof c->saslResponse, "%s",
                 xoauth2_response("taro", "old").c_str());
        int over = 0;
        const std::string sent = Feed("220 hi\r\n250 AUTH XOAUTH2\r\n"
                                      "334 eyJzdGF0dXMiOiI0MDEiLCJzY2hlbWVzIjoiYmVhcmVyIn0=\r\n"
                                      "535 5.7.8 Error: authentication failed\r\n221 bye\r\n",
                                      piece, &over);
        EXPECT_EQ(sent.substr(sent.find("\r\n", sent.find("AUTH XOAUTH2 ")) + 2), "\r\nQUIT\r\n");
        EXPECT_EQ(over, 1);
        EXPECT_NE(out.find("535 5.7.8 Error: authentication failed "
                           "{\"status\":\"401\",\"schemes\":\"bearer\"}"),
                  std::string::npos)
            << out;
    }
}

// Neither a missing token nor a server without XOAUTH2 gets anything but
// QUIT; the page says why.
TEST_F(SmtpReplyTest, NoXoauth2NoLogin) {
    const struct {
        const char* name;
        const char* response;
        const char* detail;
        const char* shown;
    } cases[] = {
        {"not offered", "dG9r", "", "AUTH XOAUTH2"},
        {"no token", "", "OAuth2: the account is not connected", "not connected"},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        out.clear();
        c->workerResult = kSmtpAwaitGreeting;
        c->send.authWanted = 1;
        c->send.oauth = 1;
        snprintf(c->saslResponse, sizeof c->saslResponse, "%s", k.response);
        snprintf(c->saslDetail, sizeof c->saslDetail, "%s", k.detail);
        EXPECT_EQ(Feed("220 hi\r\n250 AUTH PLAIN LOGIN\r\n", 3),
                  "EHLO mail.example.jp\r\nQUIT\r\n");
        EXPECT_NE(out.find(k.shown), std::string::npos) << out;
    }
    c->send.oauth = 0;
}

} // namespace
