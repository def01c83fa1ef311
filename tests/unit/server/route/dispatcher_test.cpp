#include "server/output/output_text.h"
#include "server/route/page_fixture.h"
#include "server/server_cases.h"

#include <sys/socket.h>
#include <unistd.h>

namespace {

std::string gCalls;

const std::string kQ = "?user=taro?check=5?lang=eng";
// The start of the received list of taro, and of a page without the list.
const std::string kListStart =
    StatusBlock(200) + "<html><head>" + kHeadLines + "</head><body>" + LangSwitch(true, "/") +
    "<pre><center><font size=+1>List of Received Mail of taro</font><hr><a href=";
const std::string kPlainStart = StatusBlock(200) + "<html><head>" + kHeadLines + "</head><body>" +
                                LangSwitch(true, "/") + "<pre>\r\n<font size=+1><center>";
const std::string kEnd = "Go to the list of mail sent</a></pre></center></body></html>";

class DispatcherTest : public PageTest {
protected:
    void SetUp() override {
        PageTest::SetUp();
        gCalls.clear();
        taro = LoggedIn("taro");
    }
    ConnectionPtr Waiting(PageState state, int result, int32_t idle = 0, int set = 0) {
        ConnectionPtr c = Capture();
        c->state = state;
        c->workerResult = static_cast<uint16_t>(result);
        c->lastActivity = Now() - idle;
        c->user = taro;
        c->route = Route::Mail;
        c->settingsIndex = static_cast<int16_t>(set);
        snprintf(c->userName, sizeof c->userName, "taro");
        snprintf(c->loginQuery, sizeof c->loginQuery, "%s", kQ.c_str());
        return c;
    }
    UserRecord* taro = nullptr;
};

// The full pages are compared by the integration tests; here, which text
// each outcome chooses and whether the page was still to be opened.
TEST_F(DispatcherTest, WorkerErrorTexts) {
    for (const auto& k : SERVER_CASES("cases/worker_errors.ref")) {
        SCOPED_TRACE(k.at(0) + " result " + k.at(1));
        const PageState state = StateNamed(k.at(0));
        data_store().settings.per_user_servers = std::stoi(k.at(3));
        out.clear();
        ConnectionPtr c =
            Waiting(state, std::stoi(k.at(1)), std::stoi(k.at(2)), std::stoi(k.at(4)));
        c->statusSent = k.at(5) == "1";
        Dispatcher(*c);
        const std::string page = MaskDates(out);
        const std::string start = k.at(6) == "list"    ? kListStart
                                  : k.at(6) == "plain" ? kPlainStart
                                                       : k.at(6);
        EXPECT_EQ(page.substr(0, start.size()), start);
        EXPECT_NE(page.find(k.at(7)), std::string::npos);
        EXPECT_EQ(page.find("Go back to the list") != std::string::npos,
                  state == PageState::SendWait);
        EXPECT_TRUE(page.ends_with(kEnd));
        EXPECT_EQ(c->state, PageState::Done);
    }
}

TEST_F(DispatcherTest, TimeOutAndStall) {
    workerTimeoutSeconds = 5;
    for (const auto& k : SERVER_CASES("cases/time_out.ref")) {
        SCOPED_TRACE(k.at(0) + " idle " + k.at(1));
        const bool waits = k.at(2) == "1", stalled = k.at(3) == "1";
        out.clear();
        taro->runtime.pop3Status[0] = kPop3None;
        int pair[2];
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
        ConnectionPtr c = Waiting(PageState::MessageWait, std::stoi(k.at(0)), std::stoi(k.at(1)));
        c->mailSocket = pair[0];
        Dispatcher(*c);
        EXPECT_EQ(c->state, waits ? PageState::MessageWait : PageState::Done);
        EXPECT_EQ(out.empty(), waits);
        EXPECT_EQ(taro->runtime.pop3Status[0], stalled ? kPop3ExchangeError : kPop3None);
        char b;
        // Shut down so the worker stops, left open for the reaper.
        EXPECT_EQ(recv(pair[0], &b, 1, MSG_DONTWAIT), waits ? -1 : 0);
        close(pair[0]);
        close(pair[1]);
    }
}

TEST_F(DispatcherTest, MergedListIsFinishedSetBySet) {
    data_store().settings.multiple_addresses = 1;
    // Set 2 (no POP3 user) shows no section; set 1 shows why it was not read.
    snprintf(taro->set[1].id, sizeof taro->set[1].id, "taro1");
    snprintf(taro->set[1].mail_address, sizeof taro->set[1].mail_address, "t1@example.jp");
    taro->runtime.pop3Status[1] = kPop3ConnectFailed;
    taro->runtime.pop3Status[2] = kPop3None; // its exchange has not ended yet
    taro->runtime.busy = 1;

    ConnectionPtr c = Waiting(PageState::ListWait, 20);
    Dispatcher(*c);
    EXPECT_EQ(c->state, PageState::ExtraList2);
    EXPECT_TRUE(MaskDates(out).starts_with(kListStart));
    EXPECT_EQ(out.find("</html>"), std::string::npos); // the sets to come end the page
    out.clear();
    Dispatcher(*c);
    Dispatcher(*c);
    EXPECT_EQ(c->state, PageState::ExtraList3);
    taro->runtime.pop3Status[2] = kPop3Connected;
    Dispatcher(*c);
    EXPECT_EQ(c->state, PageState::Done);
    const std::string section = "<hr>Mail Address t1@example.jp\r\n\r\n<font size=+1><center>Could "
                                "not connect to the POP3 server.";
    EXPECT_TRUE(out.starts_with(section)) << out;
    EXPECT_EQ(out.find("Mail Address", section.size()), std::string::npos); // nothing of set 2
    EXPECT_NE(out.find("name=\"list_time\"><input type=\"submit\""), std::string::npos);
    EXPECT_NE(out.find("Go to the list of mail sent</a>"), std::string::npos);
    EXPECT_TRUE(out.ends_with("</pre></body></html>")) << out;
    EXPECT_EQ(taro->runtime.busy, 0);

    out.clear(); // the extra context of set 2 shows nothing itself
    ConnectionPtr extra = Waiting(PageState::ListWait, 20, 0, 2);
    Dispatcher(*extra);
    EXPECT_EQ(extra->state, PageState::Done);
    EXPECT_EQ(out, "");
}

// A page without a producer is not found; a new user's submit has no set
// yet; states the reader or a worker owns are left alone.
TEST_F(DispatcherTest, ProducersOfLaterPages) {
    ConnectionPtr missing = Waiting(PageState::SetupPage, 0);
    Dispatcher(*missing);
    EXPECT_TRUE(MaskDates(out).starts_with(StatusBlock(404)));
    EXPECT_EQ(missing->state, PageState::Done);
    for (PageState s : {PageState::SetupPage, PageState::NewUserPage}) {
        SetPageProducer(s, [](Connection& c) { gCalls += std::to_string(c.settingsIndex) + " "; });
        ConnectionPtr c = Waiting(s, 0, 0, 1);
        Dispatcher(*c);
        EXPECT_EQ(c->state, PageState::Done);
        SetPageProducer(s, nullptr);
    }
    EXPECT_EQ(gCalls, "1 -1 ");
    for (PageState s : {PageState::Receiving, PageState::Closing}) {
        ConnectionPtr c = Waiting(s, 20, 100);
        Dispatcher(*c);
        EXPECT_EQ(c->state, s);
    }
}

} // namespace
