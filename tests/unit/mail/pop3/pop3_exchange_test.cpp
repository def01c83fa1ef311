#include "mail/list/received_list.h"
#include "pop3_fixture.h"
#include <cstring>
#include <utility>
#include <vector>

namespace {

using Steps = std::vector<std::pair<std::string, std::string>>; // reply, command sent

TEST_F(Pop3Test, LoginSequences) {
    const std::string rfc = "+OK POP3 server ready <1896.697170952@dbc.mtview.ca.us>\r\n";
    const struct {
        const char* name;
        PageState state;
        uint16_t first;
        const char *id, *password;
        Steps steps;
        uint16_t last;
        bool statusWritten;
    } cases[] = {
        {"list: PASS then STAT",
         PageState::ListWait,
         AwaitGreeting,
         "taro",
         "pw",
         {{"+OK ready\r\n", "USER taro\r\n"},
          {"+OK\r\n", "PASS pw\r\n"},
          {"+OK Logged in.\r\n", "STAT\r\n"}},
         StatSent,
         false},
        {"message: PASS then RETR",
         PageState::MessageWait,
         AwaitGreeting,
         "taro",
         "pw",
         {{"+OK ready\r\n", "USER taro\r\n"},
          {"+OK\r\n", "PASS pw\r\n"},
          {"+OK Logged in.\r\n", "RETR 12\r\n"}},
         Retrieving,
         true},
        {"text download: RETR without a page status",
         PageState::TextWait,
         AwaitGreeting,
         "taro",
         "pw",
         {{"+OK\r\n", "USER taro\r\n"}, {"+OK\r\n", "PASS pw\r\n"}, {"+OK\r\n", "RETR 12\r\n"}},
         Retrieving,
         false},
        {"APOP with the timestamp of the greeting",
         PageState::ListWait,
         AwaitGreetingApop,
         "mrose",
         "tanstaaf",
         {{rfc, "APOP mrose c4c9334bac560ecc979e58001b3e22fb\r\n"}, {"+OK\r\n", "STAT\r\n"}},
         StatSent,
         false},
        {"APOP without a timestamp digests the password alone",
         PageState::ListWait,
         AwaitGreetingApop,
         "mrose",
         "tanstaaf",
         {{"+OK ready\r\n", "APOP mrose b3aa0ba4e1f957e5f3ef356cfc147008\r\n"}},
         PassSent,
         false},
        {"APOP on a message page goes on with RETR",
         PageState::MessageWait,
         AwaitGreetingApop,
         "mrose",
         "tanstaaf",
         {{rfc, "APOP mrose c4c9334bac560ecc979e58001b3e22fb\r\n"}, {"+OK\r\n", "RETR 12\r\n"}},
         Retrieving,
         true},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        out.clear();
        snprintf(taro->set[0].id, sizeof taro->set[0].id, "%s", k.id);
        snprintf(taro->set[0].password, sizeof taro->set[0].password, "%s", k.password);
        c->itemNumber = 12;
        c->pop3.headerPhase = 0;
        Start(k.state, k.first);
        for (const auto& [reply, command] : k.steps) {
            EXPECT_EQ(Reply(reply), 0);
            EXPECT_EQ(Sent(), command);
        }
        EXPECT_EQ(c->workerResult, k.last);
        EXPECT_EQ(out.starts_with("HTTP/1.0 200 OK\r\n"), k.statusWritten);
        if (k.last == Retrieving) {
            EXPECT_EQ(c->pop3.headerPhase, 1);
        }
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

TEST_F(Pop3Test, DeletionsThenListInOneConnection) {
    // Messages 1 to 5 are in the kept list, all with headers.
    KeptEntry* tail = nullptr;
    for (int n = 1; n <= 5; n++) {
        KeptEntry* e = append_kept(taro, 0, tail, n, 100);
        ASSERT_NE(e, nullptr);
        snprintf(e->date, sizeof e->date, "Mon, 1 Jan 2024 00:00:0%d +0900", n);
        snprintf(e->from, sizeof e->from, "sender%d@example.jp", n);
        e->changed = 0;
    }
    snprintf(c->deleteList, sizeof c->deleteList, "a1,junk,a3, 5,");
    Start(PageState::DeleteWait, AwaitGreeting);
    const Steps steps = {{"+OK\r\n", "USER taro\r\n"},
                         {"+OK\r\n", "PASS pw\r\n"},
                         {"+OK\r\n", "DELE 1\r\n"},
                         {"+OK Marked to be deleted.\r\n", "DELE 3\r\n"},
                         {"+OK Marked to be deleted.\r\n", "DELE 5\r\n"},
                         {"+OK Marked to be deleted.\r\n", "STAT\r\n"},
                         {"+OK 2 200\r\n", "LIST\r\n"},
                         {"+OK 2 messages:\r\n2 100\r\n4 100\r\n.\r\n", "QUIT\r\n"}};
    for (const auto& [reply, command] : steps) {
        SCOPED_TRACE(reply);
        EXPECT_EQ(Reply(reply), 0);
        EXPECT_EQ(Sent(), command);
    }
    EXPECT_EQ(c->state, PageState::ListWait);
    EXPECT_EQ(c->pop3.deletedCount, 3);
    EXPECT_EQ(count_kept(taro->runtime.keptList[0]), 2);
    EXPECT_EQ(Reply("+OK Logging out, messages deleted.\r\n"), 1);
    free_kept_list(taro, 0);
}

TEST_F(Pop3Test, ErrInTheBodyIsText) {
    // Only the header phase of RETR (and every other step) treats -ERR as the
    // server's refusal.
    Start(PageState::MessageWait, Retrieving);
    c->pop3.headerPhase = 0;
    EXPECT_EQ(Reply("-ERR is just a line of the message\r\n"), 0);
    EXPECT_EQ(Sent(), "");
    EXPECT_EQ(c->workerResult, Retrieving);
    c->pop3.headerPhase = 1;
    EXPECT_EQ(Reply("+OK 120 octets\r\n"), 0);
    EXPECT_EQ(Reply("-ERR There's no message 12.\r\n"), 0);
    EXPECT_EQ(Sent(), "QUIT\r\n");
    EXPECT_EQ(c->workerResult, Quitting);
}

TEST_F(Pop3Test, ErrorPages) {
    const std::string frame = "<html><body><pre>";
    const std::string listHead =
        StatusBlock(200) + frame + "<center><font size=+1>List of Received Mail of taro</font>" +
        kCompose + "<hr></center><form method=\"post\" action=\"/mail/index.html" + kQ +
        "\"><pre>Mail Address taro@example.jp\r\n";
    const std::string noLogin =
        "\r\n<font size=+1><center>Could not log in to the POP3 server.\r\nID or password is "
        "wrong or you are already logged in.</font>\r\n";
    auto reason = [](const std::string& text) {
        return "</font><br>Error message<br>" + text + "</center>\r\n";
    };
    const std::string auth = "[AUTH] Authentication failed.";
    const struct {
        const char* name;
        PageState state;
        uint16_t step;
        int set;
        std::string reply;
        std::string page;
    } cases[] = {
        {"greeting", PageState::ListWait, AwaitGreeting, 0, "-ERR busy\r\n",
         listHead + noLogin + reason("busy")},
        {"APOP greeting", PageState::ListWait, AwaitGreetingApop, 0, "-ERR\r\n",
         listHead + noLogin + reason("")},
        {"USER", PageState::ListWait, UserSent, 0, "-ERR " + auth + "\r\n",
         listHead + noLogin + reason(auth)},
        {"PASS on a list", PageState::ListWait, PassSent, 0, "-ERR " + auth + "\r\n",
         listHead + noLogin + reason(auth)},
        {"PASS on a message page ends with the links", PageState::MessageWait, StatSent, 0,
         "-ERR " + auth + "\r\n",
         listHead + noLogin + reason(auth) + "<center>" + kListLink + kCompose + kSetup +
             "</center>"},
        {"the server's text is escaped", PageState::ListWait, PassSent, 0, "-ERR <b>&\r\n",
         listHead + noLogin + reason("&lt;b&gt;&amp;")},
        {"DELE", PageState::ListWait, Deleting, 0, "-ERR Message is deleted.\r\n",
         listHead + "\r\n<font size=+1><center>No mail received.</font>\r\n" +
             reason("Message is deleted.")},
        {"a message page of set 2 has no list head", PageState::MessageWait, StatSent, 1,
         "-ERR x\r\n",
         StatusBlock(200) + frame + noLogin + reason("x") + "<center>" + kListLink + kCompose +
             kSetup + "</center>"},
        {"RETR", PageState::MessageWait, Retrieving, 0, "-ERR There's no message 12.\r\n",
         frame +
             "<center><font size=+1>The designated mail is not on POP3 server.<br></font><br>"
             "Error message<br>There's no message 12.\r\n<center>" +
             kListLink + kCompose + kSetup + "</center>"},
        {"TOP", PageState::ListWait, FetchingHeaders, 0, "-ERR no such message\r\n",
         frame +
             "<center><font size=+1>Error has occurred.<br></font><br>Error message<br>no such "
             "message\r\n<center>" +
             kCompose + kSetup + "</center>"},
        {"LIST", PageState::ListWait, ListingFull, 0, "-ERR\r\n",
         frame +
             "<center><font size=+1>Error has occurred.<br></font><br>Error message<br>\r\n"
             "<center>" +
             kCompose + kSetup + "</center>"},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        out.clear();
        c->outState = 0;
        c->settingsIndex = static_cast<int16_t>(k.set);
        c->pop3.headerPhase = 1;
        Start(k.state, k.step);
        EXPECT_EQ(Reply(k.reply), 0);
        EXPECT_EQ(MaskDates(out), k.page);
        EXPECT_EQ(Sent(), "QUIT\r\n");
        EXPECT_EQ(c->workerResult, Quitting);
        EXPECT_EQ(taro->runtime.pop3Status[k.set], kPop3None);
    }
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

} // namespace
