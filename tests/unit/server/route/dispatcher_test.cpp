#include "server/output/output_text.h"
#include "server/route/page_fixture.h"

#include <sys/socket.h>
#include <unistd.h>

namespace {

std::string gCalls;

// The links of a page of user taro (check number 5) in English.
const std::string kQ = "?user=taro?check=5?lang=eng";
const std::string kCompose = "<hr><a href=\"/mail/write/index.html" + kQ +
                             "\">Write Mail</a>    <a href=\"/mail/logout/index.html" + kQ +
                             "\">Finish Reading/Writing</a>";
const std::string kEnd = "<center>" + kCompose + "<hr><a href=\"/mail/setup/index.html" + kQ +
                         "\">Change Settings</a>    <a href=\"/mail/book/index.html" + kQ +
                         "\">Address Book</a>    <a href=\"/mail/sent/index.html" + kQ +
                         "\">Go to the list of mail sent</a></pre></center></body></html>";
const std::string kListHead =
    StatusBlock(200) +
    "<html><body><pre><center><font size=+1>List of Received Mail of taro</font>" + kCompose +
    "<hr><form method=\"post\" action=\"/mail/index.html" + kQ +
    "\"><pre></center><font size=-1>Mail Address taro@example.jp</font>\r\n";
const std::string kNoConnect =
    "\r\n<font size=+1><center>Could not connect to the %1 server.\r\nThe "
    "%1 server is down or is not responding.\r\n</center></font>\r\n";

std::string Kind(std::string text, const std::string& kind) {
    for (size_t at; (at = text.find("%1")) != std::string::npos;) text.replace(at, 2, kind);
    return text;
}

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

TEST_F(DispatcherTest, WorkerErrorPages) {
    const std::string frame = StatusBlock(200) + "<html><body><pre>";
    const struct {
        PageState state;
        int result, idle, perUserServers, set;
        std::string answer;
    } cases[] = {
        {PageState::ListWait, 20, 0, 0, 0, kListHead + Kind(kNoConnect, "POP3") + kEnd},
        {PageState::ListWait, 0, 31, 0, 0, kListHead + Kind(kNoConnect, "POP3") + kEnd},
        {PageState::MessageWait, 21, 0, 0, 0,
         kListHead +
             "\r\n<font size=+1><center>Could not find the POP3 server.\r\nCheck if the "
             "POP3 server name is in the basic settings.</center></font>\r\n" +
             kEnd},
        {PageState::MessageWait, 21, 0, 1, 2,
         frame +
             "\r\n<font size=+1><center>Could not find the POP3 server.\r\nCheck if the POP3 "
             "server name in Settings 3 is correct.\r\n\r\n</center></font>" +
             kEnd},
        {PageState::DeleteWait, 7, 31, 0, 0,
         "\r\n<font size=+1><center>An error has occurred while connecting to the POP3 "
         "server.</center></font>\r\n" +
             kEnd},
        {PageState::SendWait, 20, 0, 0, 0,
         frame + Kind(kNoConnect, "SMTP") + "<hr><center><a href=\"/mail/index.html" + kQ +
             "\">Go back to the list</a></center>" + kEnd},
    };
    for (const auto& t : cases) {
        SCOPED_TRACE(testing::Message() << static_cast<int>(t.state) << " result " << t.result);
        data_store().settings.per_user_servers = t.perUserServers;
        out.clear();
        ConnectionPtr c = Waiting(t.state, t.result, t.idle, t.set);
        Dispatcher(*c);
        EXPECT_EQ(MaskDates(out), t.answer);
        EXPECT_EQ(c->state, PageState::Done);
    }
    // Japanese takes the settings number before the second server name.
    out.clear();
    data_store().settings.per_user_servers = 1;
    ConnectionPtr c = Waiting(PageState::MessageWait, 21, 0, 1);
    c->english = 0;
    Dispatcher(*c);
    EXPECT_NE(out.find(Sjis("POP3 サーバーが見つかりませんでした。\r\n設定2 の POP3 サーバー名")),
              std::string::npos);
}

TEST_F(DispatcherTest, TimeOutAndStall) {
    workerTimeoutSeconds = 5;
    WorkerStalled = [](Connection& c) { gCalls += "stalled:" + std::to_string(c.settingsIndex); };
    const struct {
        int result, idle;
        bool waits;
        const char* calls;
    } cases[] = {{0, 0, true, ""},  {3, 4, true, ""},  {3, 6, false, "stalled:0"},
                 {0, 6, false, ""}, {19, 0, true, ""}, {21, 0, false, ""}};
    for (const auto& t : cases) {
        SCOPED_TRACE(testing::Message() << t.result << " idle " << t.idle);
        out.clear();
        gCalls.clear();
        int pair[2];
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
        ConnectionPtr c = Waiting(PageState::MessageWait, t.result, t.idle);
        c->mailSocket = pair[0];
        Dispatcher(*c);
        EXPECT_EQ(c->state, t.waits ? PageState::MessageWait : PageState::Done);
        EXPECT_EQ(out.empty(), t.waits);
        EXPECT_EQ(gCalls, t.calls);
        char b;
        // Shut down so the worker stops, left open for the reaper.
        EXPECT_EQ(recv(pair[0], &b, 1, MSG_DONTWAIT), t.waits ? -1 : 0);
        close(pair[0]);
        close(pair[1]);
    }
}

TEST_F(DispatcherTest, MergedListIsFinishedSetBySet) {
    data_store().settings.multiple_addresses = 1;
    static bool set2Done;
    set2Done = false;
    ExtraSetFinished = [](Connection&, int set) { return set == 1 || set2Done; };
    ListSection = [](Connection& c, int set) {
        OutputFormat(c, 0, "[%d/%d]", set, c.settingsIndex);
    };
    ListFooter = [](Connection& c) { OutputText(c, "[footer]", 0); };
    taro->runtime.busy = 1;

    ConnectionPtr c = Waiting(PageState::ListWait, 20);
    Dispatcher(*c);
    EXPECT_EQ(c->state, PageState::ExtraList2);
    EXPECT_EQ(MaskDates(out), kListHead + Kind(kNoConnect, "POP3")); // no end yet
    out.clear();
    Dispatcher(*c);
    Dispatcher(*c);
    EXPECT_EQ(c->state, PageState::ExtraList3);
    set2Done = true;
    Dispatcher(*c);
    EXPECT_EQ(c->state, PageState::Done);
    EXPECT_EQ(out, "[1/1][2/2][footer]</pre></body></html>");
    EXPECT_EQ(taro->runtime.busy, 0);

    out.clear(); // the extra context of set 2 shows nothing itself
    ConnectionPtr extra = Waiting(PageState::ListWait, 20, 0, 2);
    Dispatcher(*extra);
    EXPECT_EQ(extra->state, PageState::Done);
    EXPECT_EQ(out, "");
}

TEST_F(DispatcherTest, ProducersOfLaterPages) {
    const std::string notFound = StatusBlock(404) + "<html><body><font size=+1>File Not "
                                                    "Found</font><br><br>  Designated URL does not "
                                                    "exist.<br></body></html>";
    for (PageState s : {PageState::ComposePage, PageState::AddressBookPage, PageState::SetupPage,
                        PageState::NewUserSubmit}) {
        SCOPED_TRACE(static_cast<int>(s));
        out.clear();
        ConnectionPtr c = Waiting(s, 0);
        Dispatcher(*c);
        EXPECT_EQ(MaskDates(out), notFound);
        EXPECT_EQ(c->state, PageState::Done);
        SetPageProducer(s, [](Connection& c) { gCalls += std::to_string(c.settingsIndex) + " "; });
        gCalls.clear();
        ConnectionPtr d = Waiting(s, 0, 0, 1);
        Dispatcher(*d);
        EXPECT_EQ(gCalls, s == PageState::NewUserSubmit ? "-1 " : "1 ");
        EXPECT_EQ(d->state, PageState::Done);
        SetPageProducer(s, nullptr);
    }
    for (PageState s : {PageState::Receiving, PageState::TextWait, PageState::Closing}) {
        ConnectionPtr c = Waiting(s, 20, 100);
        Dispatcher(*c);
        EXPECT_EQ(c->state, s);
    }
}

TEST_F(DispatcherTest, SettingsSubmitMayWaitForAPasswordExchange) {
    SetPageProducer(PageState::SetupSubmit,
                    [](Connection& c) { c.state = PageState::SetupPasswordWait; });
    SetPageProducer(PageState::SetupPasswordWait, [](Connection&) { gCalls += "result"; });
    ConnectionPtr c = Waiting(PageState::SetupSubmit, 0);
    c->workerRunning = true;
    Dispatcher(*c);
    Dispatcher(*c);
    EXPECT_EQ(c->state, PageState::SetupPasswordWait);
    EXPECT_EQ(gCalls, "");
    c->workerRunning = false;
    Dispatcher(*c);
    EXPECT_EQ(gCalls, "result");
    EXPECT_EQ(c->state, PageState::Done);
    SetPageProducer(PageState::SetupSubmit, nullptr);
    SetPageProducer(PageState::SetupPasswordWait, nullptr);
}

TEST_F(DispatcherTest, NewUserPageShowsABlankRecord) {
    SetPageProducer(PageState::NewUserPage, [](Connection& c) {
        gCalls = std::to_string(c.settingsIndex) + " id=" + c.user->set[0].id +
                 " rows=" + std::to_string(c.user->options[row_count]);
    });
    ConnectionPtr c = Capture();
    c->state = PageState::NewUserPage;
    Dispatcher(*c);
    EXPECT_EQ(gCalls, "-1 id= rows=10");
    EXPECT_EQ(c->user, nullptr);
    EXPECT_EQ(c->state, PageState::Done);
    SetPageProducer(PageState::NewUserPage, nullptr);
}

} // namespace
