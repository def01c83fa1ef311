#include "mail/list/received_list.h"
#include "mail/mail_golden.h"
#include "mail/net/mail_tls.h"
#include "mail/oauth/oauth_client.h"
#include "pop3_fixture.h"
#include "store/mail_security.h"
#include <cstring>
#include <utility>
#include <vector>

namespace {

using Steps = std::vector<std::pair<std::string, std::string>>; // reply, command sent

TEST_F(Pop3Test, ApopDigestsTheTimestampOfTheGreeting) {
    char digest[33];
    apop_digest("<1896.697170952@dbc.mtview.ca.us>", "tanstaaf", digest);
    EXPECT_STREQ(digest, "c4c9334bac560ecc979e58001b3e22fb"); // the published example
    // Without a timestamp the password alone is digested.
    for (const std::string stamp : {"<1896.697170952@dbc.mtview.ca.us>", ""}) {
        Start(PageState::ListWait, AwaitGreetingApop);
        EXPECT_EQ(Reply("+OK POP3 server ready " + stamp + "\r\n"), 0);
        apop_digest(stamp.c_str(), "pw", digest);
        EXPECT_EQ(Sent(), "APOP taro " + std::string(digest) + "\r\n") << stamp;
        EXPECT_EQ(c->workerResult, PassSent);
    }
}

// With STLS required, nothing of the login goes out before TLS: a server that
// does not offer it, or refuses it, is left.
TEST_F(Pop3Test, StlsRequiredIsNeverSkipped) {
    const struct {
        const char* name;
        std::string capa; // the server's answers after the greeting
        std::string sent; // all the client says after CAPA
    } cases[] = {
        {"not announced", "+OK\r\nUSER\r\nSASL PLAIN\r\n.\r\n", ""},
        {"no CAPA", "-ERR unknown command\r\n", ""},
        {"refused", "+OK\r\nstls\r\n.\r\n-ERR not now\r\n", "STLS\r\n"},
        {"a look-alike", "+OK\r\nSTLSX\r\n.\r\n", ""},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        Start(PageState::ListWait, AwaitGreetingApop);
        c->pop3.security = static_cast<uint8_t>(Pop3Security::Stls);
        EXPECT_EQ(Reply("+OK ready <1.2@test.example>\r\n"), 0);
        EXPECT_EQ(Sent(), "CAPA\r\n");
        EXPECT_EQ(Reply(k.capa), 1);
        EXPECT_EQ(Sent(), k.sent);
        EXPECT_EQ(c->workerResult, TlsFailed);
        EXPECT_EQ(c->tlsFailure, static_cast<uint8_t>(TlsFailure::NotOffered));
        EXPECT_EQ(out, "");
    }
}

TEST_F(Pop3Test, LineAssembly) {
    Start(PageState::ListWait, AwaitGreeting);
    // A reply split across sends is taken only when its line is complete, and
    // last activity moves with complete lines only.
    c->lastActivity = 0;
    EXPECT_EQ(Reply("+O"), 0);
    EXPECT_EQ(Sent(), "");
    EXPECT_EQ(c->lastActivity, 0);
    EXPECT_EQ(Reply(std::string("K re\0a", 6) + "dy\r"), 0);
    EXPECT_EQ(Sent(), "");
    EXPECT_EQ(Reply("\n"), 0);
    EXPECT_EQ(Sent(), "USER taro\r\n");
    EXPECT_STREQ(c->line, "+OK ready"); // CR and NUL are not kept
    EXPECT_GE(c->lastActivity, Now() - 1);

    // An over-long line keeps the first 4095 bytes, never half a two-byte
    // character, and the next line is read normally.
    std::string longLine = "+OK " + std::string(4090, 'x') + "\x82\xa0" + std::string(3000, 'y');
    EXPECT_EQ(Reply(longLine + "\r\n"), 0);
    EXPECT_EQ(Sent(), "PASS pw\r\n");
    EXPECT_EQ(strlen(c->line), 4094u);
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

// The posted marks arrive as text: only plain numbers may reach a DELE. A
// server that pipelines gets them in one write, others one by one.
TEST_F(Pop3Test, OnlyPlainNumbersOfTheDeleteListAreSent) {
    const struct {
        const char* name;
        std::string capa;
        Steps steps;
    } cases[] = {
        {"no CAPA",
         "-ERR unknown command\r\n",
         {{"+OK\r\n", "DELE 3\r\n"}, {"+OK\r\n", "DELE 5\r\n"}, {"+OK\r\n", "STAT\r\n"}}},
        {"no PIPELINING",
         "+OK\r\nTOP\r\nPIPELININGX\r\n.\r\n",
         {{"+OK\r\n", "DELE 3\r\n"}, {"+OK\r\n", "DELE 5\r\n"}, {"+OK\r\n", "STAT\r\n"}}},
        {"PIPELINING", "+OK\r\nPIPELINING\r\n.\r\n", {{"+OK\r\n+OK\r\n+OK\r\n", "STAT\r\n"}}},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        snprintf(c->deleteList, sizeof c->deleteList, "a1,junk,a3, 5,9\r\nQUIT,");
        c->pop3 = Pop3Exchange{};
        Start(PageState::DeleteWait, StatSent);
        EXPECT_EQ(Reply("+OK\r\n"), 0);
        EXPECT_EQ(Sent(), "CAPA\r\n");
        EXPECT_EQ(Reply(k.capa), 0);
        EXPECT_EQ(Sent(), k.capa.find("PIPELINING\r") != std::string::npos
                              ? "DELE 1\r\nDELE 3\r\nDELE 5\r\n"
                              : "DELE 1\r\n");
        for (const auto& [reply, command] : k.steps) {
            EXPECT_EQ(Reply(reply), 0);
            EXPECT_EQ(Sent(), command);
        }
        EXPECT_EQ(c->state, PageState::ListWait);
        EXPECT_EQ(c->pop3.deletedCount, 3);
    }
    // A single mark is not worth asking.
    snprintf(c->deleteList, sizeof c->deleteList, "a7,");
    c->pop3 = Pop3Exchange{};
    Start(PageState::DeleteWait, StatSent);
    EXPECT_EQ(Reply("+OK\r\n"), 0);
    EXPECT_EQ(Sent(), "DELE 7\r\n");
}

// An error page ends the exchange while pipelined replies are still on
// their way: they are read past, whole, and only QUIT's +OK closes it, so
// the server has taken QUIT (and with it the deletions) before the socket
// goes.
TEST_F(Pop3Test, RepliesSentAheadAreReadPastBeforeQuit) {
    snprintf(c->deleteList, sizeof c->deleteList, "a1,a2,a3,a4,");
    Start(PageState::DeleteWait, StatSent);
    Reply("+OK\r\n+OK\r\nPIPELINING\r\n.\r\n");
    EXPECT_EQ(Sent(), "CAPA\r\nDELE 1\r\nDELE 2\r\nDELE 3\r\nDELE 4\r\n");
    EXPECT_EQ(Reply("+OK\r\n-ERR no such message\r\n"), 0);
    EXPECT_EQ(Sent(), "QUIT\r\n");
    EXPECT_EQ(c->workerResult, Quitting);
    EXPECT_EQ(Reply("+OK\r\n"), 0);       // DELE 3
    EXPECT_EQ(Reply("-ERR gone\r\n"), 0); // DELE 4
    EXPECT_EQ(Reply("+OK bye\r\n"), 1);

    // Multi-line replies are skipped to their end, a dotted "+OK" line within
    // them included.
    c->pop3 = Pop3Exchange{};
    c->pop3.ahead = 2;
    c->pop3.aheadMultiline = 1;
    c->workerResult = Quitting;
    EXPECT_EQ(Reply("+OK 120 octets\r\nSubject: x\r\n..+OK\r\n+OK\r\n\r\n.\r\n"), 0);
    EXPECT_EQ(Reply("-ERR no such message\r\n"), 0);
    EXPECT_EQ(Reply("+OK bye\r\n"), 1);
}

// A refused QUIT ends the exchange too: no second error page, no second QUIT.
TEST_F(Pop3Test, RefusedQuitEndsTheExchange) {
    Start(PageState::ListWait, Quitting);
    EXPECT_EQ(Reply("garbage\r\n"), 0);
    EXPECT_EQ(Reply("-ERR some deleted messages not removed\r\n-ERR again\r\n"), 1);
    EXPECT_EQ(Sent(), "");
    EXPECT_EQ(out, "");
}

TEST_F(Pop3Test, ErrorPages) {
    const std::string auth = "-ERR [AUTH] Authentication failed.\r\n";
    const struct {
        const char* name;
        PageState state;
        uint16_t step;
        int set;
        std::string reply;
    } cases[] = {
        {"greeting", PageState::ListWait, AwaitGreeting, 0, "-ERR busy\r\n"},
        {"USER", PageState::ListWait, UserSent, 0, auth},
        {"PASS on a message page ends with the links", PageState::MessageWait, StatSent, 0, auth},
        {"the server's text is escaped", PageState::ListWait, PassSent, 0, "-ERR <b>&\r\n"},
        {"DELE", PageState::ListWait, Deleting, 0, "-ERR Message is deleted.\r\n"},
        {"a message page of set 2 has no list head", PageState::MessageWait, StatSent, 1,
         "-ERR x\r\n"},
        {"TOP", PageState::ListWait, FetchingHeaders, 0, "-ERR no such message\r\n"},
        {"LIST", PageState::ListWait, ListingFull, 0, "-ERR\r\n"},
    };
    std::string golden;
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        out.clear();
        c->filter.state = 0;
        c->settingsIndex = static_cast<int16_t>(k.set);
        c->pop3.headerPhase = 1;
        Start(k.state, k.step);
        EXPECT_EQ(Reply(k.reply), 0);
        golden += mail_golden::Section(k.name, MaskDates(out));
        EXPECT_EQ(Sent(), "QUIT\r\n");
        EXPECT_EQ(c->workerResult, Quitting);
        EXPECT_EQ(taro->runtime.pop3Status[k.set], kPop3None);
    }
    EXPECT_GOLDEN(golden, "error_pages.ref");
}

// A user name or password with a line break (an old data file can hold one)
// would let its tail pass for a command: the command is never sent, and the
// exchange ends as after a refusal of it.
TEST_F(Pop3Test, AValueWithALineBreakIsNeverSent) {
    const struct {
        const char* name;
        uint16_t step;
        bool inPassword; // else in the user name
        const char* value;
        std::string before; // commands sent before the refused one
    } cases[] = {
        {"USER", AwaitGreeting, false, "taro\r\nDELE 1", ""},
        {"PASS", AwaitGreeting, true, "pw\r\nDELE 1", "USER taro\r\n"},
        {"a lone LF", AwaitGreeting, true, "pw\nDELE 1", "USER taro\r\n"},
        {"APOP", AwaitGreetingApop, false, "taro\rDELE 1", ""},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        out.clear();
        c->filter.state = 0;
        SettingsSet& s = taro->set[0];
        snprintf(s.id, sizeof s.id, "taro");
        snprintf(s.password, sizeof s.password, "pw");
        snprintf(k.inPassword ? s.password : s.id, sizeof s.id, "%s", k.value);
        Start(PageState::ListWait, k.step);
        EXPECT_EQ(Reply("+OK ready <1.2@host>\r\n"), 0);
        if (!k.before.empty()) {
            EXPECT_EQ(Sent(), k.before);
            EXPECT_EQ(Reply("+OK\r\n"), 0);
        }
        EXPECT_EQ(Sent(), "QUIT\r\n");
        EXPECT_EQ(c->workerResult, Quitting);
        EXPECT_NE(out.find("Could not log in to the POP3 server."), std::string::npos) << out;
        EXPECT_EQ(Reply("+OK bye\r\n"), 1);
    }
    snprintf(taro->set[0].id, sizeof taro->set[0].id, "taro");
    snprintf(taro->set[0].password, sizeof taro->set[0].password, "pw");
}

TEST_F(Pop3Test, FurtherSetOfAMergedListRecordsTheRefusal) {
    c->parent = c.get(); // only its presence counts
    const struct {
        PageState state;
        uint16_t step;
        uint16_t status;
    } cases[] = {
        {PageState::ListWait, PassSent, kPop3LoginFailed},
        {PageState::DeleteWait, UserSent, kPop3LoginFailed},
        {PageState::ListWait, Deleting, kPop3MailNotFound},
    };
    for (const auto& k : cases) {
        c->settingsIndex = 2;
        Start(k.state, k.step);
        EXPECT_EQ(Reply("-ERR [AUTH] Authentication failed.\r\n"), 0);
        EXPECT_EQ(out, "");
        EXPECT_EQ(Sent(), "QUIT\r\n");
        EXPECT_EQ(taro->runtime.pop3Status[2], k.status);
        EXPECT_STREQ(taro->runtime.pop3ErrorText[2], "[AUTH] Authentication failed.");
    }
    c->parent = nullptr;
}

// AUTH XOAUTH2 in place of USER/PASS or APOP, whatever the greeting offers.
TEST_F(Pop3Test, Xoauth2LoginLeadsToThePagesCommand) {
    const std::string auth = "AUTH XOAUTH2 " + xoauth2_response("taro", "tok") + "\r\n";
    EXPECT_EQ(auth, "AUTH XOAUTH2 dXNlcj10YXJvAWF1dGg9QmVhcmVyIHRvawEB\r\n");
    const struct {
        PageState state;
        uint16_t greeting;
        std::string next;
    } cases[] = {
        {PageState::ListWait, AwaitGreeting, "STAT\r\n"},
        {PageState::ListWait, AwaitGreetingApop, "STAT\r\n"},
        {PageState::MessageWait, AwaitGreeting, "RETR 4\r\n"},
    };
    for (const auto& k : cases) {
        c->pop3.oauth = 1;
        snprintf(c->saslResponse, sizeof c->saslResponse, "%s",
                 xoauth2_response("taro", "tok").c_str());
        c->itemNumber = 4;
        Start(k.state, k.greeting);
        EXPECT_EQ(Reply("+OK ready <1.2@test.example>\r\n"), 0);
        EXPECT_EQ(Sent(), auth);
        EXPECT_EQ(Reply("+OK Logged in.\r\n"), 0);
        EXPECT_EQ(Sent(), k.next);
    }
}

// A response too long for the command line goes after the server's "+".
TEST_F(Pop3Test, LongXoauth2ResponseWaitsForTheContinuation) {
    const std::string response = xoauth2_response("taro", std::string(300, 't'));
    c->pop3.oauth = 1;
    snprintf(c->saslResponse, sizeof c->saslResponse, "%s", response.c_str());
    for (const std::string go : {"+ \r\n", "+\r\n"}) {
        Start(PageState::ListWait, AwaitGreeting);
        Reply("+OK ready\r\n");
        EXPECT_EQ(Sent(), "AUTH XOAUTH2\r\n");
        Reply(go);
        EXPECT_EQ(Sent(), response + "\r\n");
        Reply("+OK\r\n");
        EXPECT_EQ(Sent(), "STAT\r\n");
    }
}

// A refused token: the server's JSON comes in a "+" challenge, which an
// empty line answers; the -ERR then ends the login with both texts on the
// page. The lines may arrive in any pieces.
TEST_F(Pop3Test, RefusedTokenIsAnsweredAndShown) {
    const std::string replies = "+ eyJzdGF0dXMiOiI0MDEiLCJzY2hlbWVzIjoiYmVhcmVyIn0=\r\n"
                                "-ERR [AUTH] Authentication failed.\r\n";
    for (size_t piece : {1, 3, 1000}) {
        SCOPED_TRACE(piece);
        out.clear();
        c->pop3.oauth = 1;
        snprintf(c->saslResponse, sizeof c->saslResponse, "%s",
                 xoauth2_response("taro", "old").c_str());
        c->saslDetail[0] = '\0';
        Start(PageState::ListWait, AwaitGreeting);
        Reply("+OK ready\r\n");
        Sent();
        std::string sent;
        for (size_t at = 0; at < replies.size(); at += piece) {
            Reply(replies.substr(at, piece));
            sent += Sent();
        }
        EXPECT_EQ(sent, "\r\nQUIT\r\n");
        EXPECT_EQ(c->workerResult, Quitting);
        EXPECT_NE(out.find("Could not log in to the POP3 server."), std::string::npos) << out;
        EXPECT_NE(out.find("Error message<br>[AUTH] Authentication failed. "
                           "{\"status\":\"401\",\"schemes\":\"bearer\"}</center>"),
                  std::string::npos)
            << out;
    }
}

// Without a token nothing is sent but QUIT: the page says why.
TEST_F(Pop3Test, NoTokenNoLogin) {
    c->pop3.oauth = 1;
    c->saslResponse[0] = '\0';
    snprintf(c->saslDetail, sizeof c->saslDetail, "OAuth2 token endpoint: invalid_grant");
    Start(PageState::ListWait, AwaitGreetingApop);
    Reply("+OK ready <1.2@test.example>\r\n");
    EXPECT_EQ(Sent(), "QUIT\r\n");
    EXPECT_NE(out.find("Error message<br>OAuth2 token endpoint: invalid_grant</center>"),
              std::string::npos)
        << out;
    c->pop3.oauth = 0;
}

} // namespace
