#include "mail/book/book_state.h"
#include "mail/compose/outgoing.h"
#include "mail/list/list_state.h"
#include "mail/list/received_list.h"
#include "mail/mail_golden.h"
#include "mail/net/mail_link.h"
#include "mail/pop3/pop3_state.h"
#include "page/output/output_text.h"
#include "server/files/file_answer.h"
#include "server/route/page_fixture.h"

#include <sys/socket.h>

namespace {

// The parameters routing filled in, non-empty ones only; the file found is
// given relative to the home folder.
std::string Fields(const Connection& c, const std::string& home) {
    std::string s;
    auto add = [&s](const char* name, std::string value) {
        if (!value.empty()) s += std::string(s.empty() ? "" : " ") + name + "=" + value;
    };
    add("to", c.send.linkTo);
    add("delete", c.deleteList);
    add("back", c.book.back);
    add("add", c.book.add);
    add("sent", c.send.sentToken);
    add("query", c.loginQuery);
    if (c.file >= 0) add("file", std::string(c.download.path).substr(home.size()));
    return s;
}

std::string gCalls;

void FakePop3(Connection& c) {
    gCalls += "pop3:" + std::to_string(c.settingsIndex) + " ";
    c.workerResult = 1;
}

// Logged-in taro, connections of his at each stage, and the answers they
// leave.
class LoggedInTest : public PageTest {
protected:
    void SetUp() override {
        PageTest::SetUp();
        gCalls.clear();
        taro = LoggedIn("taro");
    }
    ConnectionPtr As(UserRecord* u, ::Route r) {
        ConnectionPtr c = Capture();
        c->route = r;
        c->user = u;
        c->auth = u ? kAuthOk : kAuthNone;
        if (u) {
            server_cases::Put(c->userName, u->set[0].id);
            c->session.check = 5;
            memcpy(c->session.postedToken, kTestFormToken, sizeof kTestFormToken);
        }
        return c;
    }
    ConnectionPtr Waiting(PageState state, int result, int32_t idle = 0, int set = 0) {
        ConnectionPtr c = Of(taro);
        c->state = state;
        c->workerResult = static_cast<uint16_t>(result);
        c->lastActivity = Now() - idle;
        c->settingsIndex = static_cast<int16_t>(set);
        return c;
    }
    // No answer, or the golden answer of that name, dates masked.
    void ExpectAnswer(const std::string& golden) {
        if (golden.empty())
            EXPECT_EQ(out, "");
        else
            EXPECT_GOLDEN("answers/" + golden, MaskDates(out));
    }
};

class RouteTest : public LoggedInTest {
protected:
    void SetUp() override {
        LoggedInTest::SetUp();
        Attach(taro, "report.txt", "Report.txt");
        Attach(taro, "att1.bin", Sjis("日本.txt"));
        WriteFile(home + "/html/index.html", "home");
        WriteFile(home + "/html/logo.gif", "GIF89a");
        WriteFile(home + "/html/docs/index.html", "docs");
        WriteFile(home + "/bg.JPG", "jpeg");
        snprintf(data_store().settings.background_image, 256, "bg.JPG");
    }
};

TEST_F(RouteTest, EveryUrlForm) {
    for (const auto& t : SERVER_CASES("url_forms.ref")) {
        SCOPED_TRACE(t.at(0) + (t.at(1) == "1" ? " (multiple addresses)" : ""));
        data_store().settings.multiple_addresses = std::stoi(t.at(1));
        ConnectionPtr c = Capture(0);
        Route(*c, t.at(0) + " HTTP/1.0");
        const ::Route route = RouteNamed(t.at(2));
        EXPECT_EQ(c->route, route);
        EXPECT_EQ(c->settingsIndex, std::stoi(t.at(3)));
        EXPECT_EQ(c->itemNumber, std::stoi(t.at(4)));
        EXPECT_EQ(c->auth, std::stoi(t.at(5)));
        EXPECT_EQ(Fields(*c, home), t.at(6));
        EXPECT_EQ(c->user != nullptr, t.at(5) == "1" && route != Route::Static);
        EXPECT_EQ(out, ""); // routing never answers
    }
}

TEST_F(RouteTest, RoutesThatFollowTheSettings) {
    BasicSettings& s = data_store().settings;
    for (const auto& k : SERVER_CASES("cases/route_settings.ref")) {
        server_cases::Put(s.top_page, k.at(0));
        s.remote_control = std::stoi(k.at(1));
        serviceActive = std::stoi(k.at(2));
        s.browser_auth = std::stoi(k.at(3));
        s.close_browser = std::stoi(k.at(4));
        ConnectionPtr c = Capture(0);
        Route(*c, k.at(5) + " HTTP/1.0");
        EXPECT_EQ(c->route, RouteNamed(k.at(6))) << k.at(5);
    }
}

// A login query names a session for one hour after its last list display,
// for its own non-zero check number only, and never with browser auth.
TEST_F(RouteTest, LoginQueryValidity) {
    for (const auto& k : SERVER_CASES("cases/login_queries.ref")) {
        SCOPED_TRACE(testing::PrintToString(k));
        data_store().settings.browser_auth = std::stoi(k.at(3));
        session_close_all();
        session_insert("taro", std::stoi(k.at(0)), kTestCookie, Now() - std::stoi(k.at(1)));
        ConnectionPtr c = Capture(0);
        Route(*c, "/mail/index.html" + k.at(2) + " HTTP/1.0");
        EXPECT_EQ(c->route, Route::Mail);
        const bool holds = k.at(4) == "1";
        EXPECT_EQ(c->user == taro && c->auth == kAuthOk, holds);
        EXPECT_STREQ(c->loginQuery, holds ? "?user=taro?check=5" : "");
    }
}

class EvaluateTest : public LoggedInTest {
protected:
    void SetUp() override {
        LoggedInTest::SetUp();
        worker_starts().pop3AllSettings = [](Connection&) { gCalls += "all "; };
        // What the last list kept of message 12: its Message-Id.
        KeptEntry* tail = nullptr;
        KeptEntry* kept = append_kept(taro, 0, tail, 12, 100);
        snprintf(kept->messageId, sizeof kept->messageId, "<id@h>");
        worker_starts().smtp = [](Connection&) { gCalls += "smtp "; };
    }
    void TearDown() override {
        free_kept_list(taro, 0);
        PageTest::TearDown();
    }
};

// Without an installed worker the exchange counts as failed to connect, so
// its error page follows at once; text delivery has none and is not found.
TEST_F(EvaluateTest, StateOfEachLoggedInRoute) {
    ConnectionPtr list = As(taro, Route::Mail);
    EvaluateRequest(*list);
    EXPECT_EQ(list->state, PageState::ListWait);
    EXPECT_EQ(list->workerResult, kWorkerConnectFailed);
    ConnectionPtr text = As(taro, Route::MailAsText);
    EvaluateRequest(*text);
    EXPECT_EQ(text->state, PageState::Done);
    EXPECT_EQ(out.substr(0, 29), "HTTP/1.0 404 File Not Found\r\n");
    out.clear();
    worker_starts().pop3 = FakePop3;
    for (const auto& t : SERVER_CASES("logged_in_states.ref")) {
        SCOPED_TRACE(t.at(0) + " item " + t.at(1) + " " + t.at(2));
        gCalls.clear();
        data_store().settings.multiple_addresses = std::stoi(t.at(5));
        taro->runtime.listTime = 1000;
        taro->runtime.openMessage = std::stoi(t.at(4));
        ConnectionPtr c = As(taro, RouteNamed(t.at(0)));
        c->itemNumber = std::stoi(t.at(1));
        server_cases::Put(c->deleteList, t.at(2));
        c->listTimeField = std::stoi(t.at(3));
        EvaluateRequest(*c);
        EXPECT_EQ(c->state, StateNamed(t.at(6)));
        EXPECT_EQ(c->itemNumber, std::stoi(t.at(7)));
        EXPECT_EQ(taro->runtime.openMessage, std::stoi(t.at(8)));
        EXPECT_EQ(c->deleteList, t.at(9));
        EXPECT_EQ(gCalls, t.at(10));
        EXPECT_EQ(out, "");
    }
}

TEST_F(EvaluateTest, AnswersWithoutLogin) {
    for (const auto& k : SERVER_CASES("cases/answers_without_login.ref")) {
        SCOPED_TRACE(k.at(0));
        data_store().settings.browser_auth = std::stoi(k.at(1));
        out.clear();
        ConnectionPtr c = As(nullptr, RouteNamed(k.at(0)));
        c->auth = static_cast<uint16_t>(std::stoi(k.at(2)));
        EvaluateRequest(*c);
        EXPECT_EQ(c->state, StateNamed(k.at(3)));
        ExpectAnswer(k.at(4));
    }
    for (int i = 1; i < max_users; i++) AddUser("u" + std::to_string(i));
    ConnectionPtr full = As(nullptr, Route::NewUser);
    EvaluateRequest(*full);
    EXPECT_EQ(full->state, PageState::Done); // not found: no room for a new user
}

TEST_F(EvaluateTest, FormLogin) {
    int32_t previous = 5;
    for (const auto& k : SERVER_CASES("cases/form_logins.ref")) {
        SCOPED_TRACE(k.at(1) + "/" + k.at(2));
        const ::Route route = RouteNamed(k.at(0));
        const bool ok = k.at(3) == "1";
        out.clear();
        ConnectionPtr c = As(nullptr, route);
        server_cases::Put(c->formSlots[0], k.at(1));
        server_cases::Put(c->formSlots[2], k.at(2));
        EvaluatePost(*c);
        EXPECT_EQ(c->user == taro, ok);
        if (!ok) {
            ExpectAnswer("refused.ref");
            continue;
        }
        const int32_t check = c->session.check;
        EXPECT_TRUE(check > 0 && check != previous); // each login its own session
        EXPECT_EQ(strlen(c->session.cookieToSet), 32u);
        previous = check;
        EXPECT_EQ(std::string(c->loginQuery),
                  "?user=taro?check=" + std::to_string(check) + "?lang=eng");
        EXPECT_EQ(c->state, route == Route::Mail ? PageState::ListWait : PageState::SentListPage);
    }
}

TEST_F(EvaluateTest, PostsToTheOtherPages) {
    for (const auto& k : SERVER_CASES("cases/posts.ref")) {
        SCOPED_TRACE(k.at(0) + " " + k.at(2));
        gCalls.clear();
        out.clear();
        ConnectionPtr c = As(k.at(1) == "1" ? taro : nullptr, RouteNamed(k.at(0)));
        server_cases::Put(c->send.sendTo, k.at(2));
        EvaluatePost(*c);
        const PageState state = StateNamed(k.at(3));
        EXPECT_EQ(c->state, state);
        EXPECT_EQ(gCalls, state == PageState::SendWait ? "smtp " : "");
        ExpectAnswer(state == PageState::Done ? "id_error.ref" : "");
    }
}

TEST(RecipientsValidTest, CcAndBccCountToo) {
    EXPECT_FALSE(RecipientsValid("a@b.c", "", "c <x+y@b.c>"));
    EXPECT_FALSE(RecipientsValid("a@b.c", "bad@host", ""));
    EXPECT_TRUE(RecipientsValid("a@b.c", nullptr, "local"));
}

using DispatcherTest = LoggedInTest;

// The page each outcome leads to, in the set that failed, whether the page
// was still to be opened or not.
TEST_F(DispatcherTest, WorkerErrorPages) {
    std::string pages;
    for (const auto& k : SERVER_CASES("cases/worker_errors.ref")) {
        data_store().settings.per_user_servers = std::stoi(k.at(3));
        out.clear();
        ConnectionPtr c = Waiting(StateNamed(k.at(0)), std::stoi(k.at(1)), std::stoi(k.at(2)),
                                  std::stoi(k.at(4)));
        c->statusSent = k.at(5) == "1";
        Dispatcher(*c);
        EXPECT_EQ(c->state, PageState::Done);
        pages += "=== " + testing::PrintToString(k) + "\n" +
                 mail_golden::MaskListTime(MaskDates(out)) + "\n";
    }
    EXPECT_GOLDEN("answers/worker_errors.ref", pages);
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
        c->mail.socket = pair[0];
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

// A page without a producer is not found; a new user's submit has no set
// yet; states the reader or a worker owns are left alone.
TEST_F(DispatcherTest, ProducersOfLaterPages) {
    const PageProducer setup = SetPageProducer(PageState::SetupPage, nullptr);
    ConnectionPtr missing = Waiting(PageState::SetupPage, 0);
    Dispatcher(*missing);
    EXPECT_GOLDEN("answers/not_found.ref", MaskDates(out));
    EXPECT_EQ(missing->state, PageState::Done);
    for (PageState s : {PageState::SetupPage, PageState::NewUserPage}) {
        const PageProducer own = SetPageProducer(
            s, [](Connection& c) { gCalls += std::to_string(c.settingsIndex) + " "; });
        ConnectionPtr c = Waiting(s, 0, 0, 1);
        Dispatcher(*c);
        EXPECT_EQ(c->state, PageState::Done);
        SetPageProducer(s, s == PageState::SetupPage ? setup : own);
    }
    EXPECT_EQ(gCalls, "1 -1 ");
    for (PageState s : {PageState::Receiving, PageState::Closing}) {
        ConnectionPtr c = Waiting(s, 20, 100);
        Dispatcher(*c);
        EXPECT_EQ(c->state, s);
    }
}

} // namespace
