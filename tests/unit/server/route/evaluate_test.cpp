#include "mail/list/received_list.h"
#include "server/route/page_fixture.h"
#include "server/server_cases.h"

namespace {

std::string gCalls;

void FakePop3(Connection& c) {
    gCalls += "pop3:" + std::to_string(c.settingsIndex) + " ";
    c.workerResult = 1;
}

class EvaluateTest : public PageTest {
protected:
    void SetUp() override {
        PageTest::SetUp();
        gCalls.clear();
        taro = LoggedIn("taro");
        StartAllSettingsWorkers = [](Connection&) { gCalls += "all "; };
        // What the last list kept of message 12: its Message-Id.
        KeptEntry* tail = nullptr;
        KeptEntry* kept = append_kept(taro, 0, tail, 12, 100);
        snprintf(kept->messageId, sizeof kept->messageId, "<id@h>");
        StartSendWorker = [](Connection&) { gCalls += "smtp "; };
    }
    void TearDown() override {
        free_kept_list(taro, 0);
        PageTest::TearDown();
    }
    ConnectionPtr As(UserRecord* u, ::Route r) {
        ConnectionPtr c = Capture();
        c->route = r;
        c->user = u;
        c->auth = u ? kAuthOk : kAuthNone;
        if (u) {
            snprintf(c->userName, sizeof c->userName, "%s", u->set[0].id);
            c->sessionCheck = 5;
            memcpy(c->postedToken, kTestFormToken, sizeof kTestFormToken);
        }
        return c;
    }
    // No answer, or the golden answer of that name, dates masked.
    void ExpectAnswer(const std::string& golden) {
        if (golden.empty())
            EXPECT_EQ(out, "");
        else
            EXPECT_GOLDEN("answers/" + golden, MaskDates(out));
    }
    UserRecord* taro = nullptr;
};

TEST_F(EvaluateTest, StateOfEachLoggedInRoute) {
    StartMailWorker = FakePop3;
    for (const auto& t : SERVER_CASES("logged_in_states.ref")) {
        SCOPED_TRACE(t.at(0) + " item " + t.at(1) + " " + t.at(2));
        gCalls.clear();
        data_store().settings.multiple_addresses = std::stoi(t.at(5));
        taro->runtime.listTime = 1000;
        taro->runtime.openMessage = std::stoi(t.at(4));
        ConnectionPtr c = As(taro, RouteNamed(t.at(0)));
        c->itemNumber = std::stoi(t.at(1));
        snprintf(c->deleteList, sizeof c->deleteList, "%s", t.at(2).c_str());
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

// Without an installed worker the exchange counts as failed to connect, so
// its error page follows at once; text delivery has none and is not found.
TEST_F(EvaluateTest, WaitStatesWithoutWorker) {
    ConnectionPtr c = As(taro, Route::Mail);
    EvaluateRequest(*c);
    EXPECT_EQ(c->state, PageState::ListWait);
    EXPECT_EQ(c->workerResult, kWorkerConnectFailed);
    ConnectionPtr t = As(taro, Route::MailAsText);
    EvaluateRequest(*t);
    EXPECT_EQ(t->state, PageState::Done);
    EXPECT_EQ(out.substr(0, 29), "HTTP/1.0 404 File Not Found\r\n");
}

TEST_F(EvaluateTest, AnswersWithoutLogin) {
    const struct {
        ::Route route;
        int browserAuth;
        uint16_t auth;
        PageState state;
        const char* answer;
    } cases[] = {
        {Route::Top, 0, kAuthNone, PageState::TopPage, ""},
        {Route::Remote, 0, kAuthNone, PageState::RemotePage, ""},
        {Route::NewUser, 0, kAuthNone, PageState::NewUserPage, ""},
        {Route::Mail, 0, kAuthNone, PageState::Done, "refused.ref"},
        {Route::Sent, 1, kAuthNone, PageState::Done, "refused_browser_auth.ref"},
        {Route::Write, 1, kAuthRejected, PageState::Done, "refused_credentials.ref"},
        {Route::Logout, 0, kAuthNone, PageState::Done, "not_found.ref"},
    };
    for (const auto& t : cases) {
        SCOPED_TRACE(static_cast<int>(t.route));
        data_store().settings.browser_auth = t.browserAuth;
        out.clear();
        ConnectionPtr c = As(nullptr, t.route);
        c->auth = t.auth;
        EvaluateRequest(*c);
        EXPECT_EQ(c->state, t.state);
        ExpectAnswer(t.answer);
    }
    for (int i = 1; i < max_users; i++) AddUser("u" + std::to_string(i));
    ConnectionPtr full = As(nullptr, Route::NewUser);
    EvaluateRequest(*full);
    EXPECT_EQ(full->state, PageState::Done); // not found: no room for a new user
}

TEST_F(EvaluateTest, LogoutEndsTheLogin) {
    ConnectionPtr c = As(taro, Route::Logout);
    EvaluateRequest(*c);
    EXPECT_EQ(c->state, PageState::LogoutPage);
    EXPECT_FALSE(session_live("taro", 5, Now()));
    ConnectionPtr again = Capture(0);
    Route(*again, "/mail/index.html?user=taro?check=5 HTTP/1.0");
    EXPECT_EQ(again->user, nullptr);
}

TEST_F(EvaluateTest, FormLogin) {
    const struct {
        ::Route route;
        const char *name, *password;
        bool ok;
    } cases[] = {{Route::Mail, "taro", "pw", true},
                 {Route::Sent, "taro", "pw", true},
                 {Route::Mail, "taro", "PW", false},
                 {Route::Mail, "", "", false}};
    int32_t previous = 5;
    for (const auto& t : cases) {
        SCOPED_TRACE(std::string(t.name) + "/" + t.password);
        out.clear();
        ConnectionPtr c = As(nullptr, t.route);
        snprintf(c->formSlots[0], kFieldSize, "%s", t.name);
        snprintf(c->formSlots[2], kFieldSize, "%s", t.password);
        EvaluatePost(*c);
        int32_t check = t.ok ? c->sessionCheck : previous;
        EXPECT_EQ(c->user == taro, t.ok);
        if (!t.ok) {
            EXPECT_EQ(check, previous);
            ExpectAnswer("refused.ref");
            continue;
        }
        EXPECT_TRUE(check > 0 && check != previous); // each login its own session
        EXPECT_EQ(strlen(c->cookieToSet), 32u);
        previous = check;
        EXPECT_EQ(std::string(c->loginQuery),
                  "?user=taro?check=" + std::to_string(check) + "?lang=eng");
        EXPECT_EQ(c->state, t.route == Route::Mail ? PageState::ListWait : PageState::SentListPage);
    }
}

TEST_F(EvaluateTest, PostsToTheOtherPages) {
    const struct {
        ::Route route;
        bool user;
        const char* to;
        PageState state;
    } cases[] = {
        {Route::Write, true, "Taro <t@b.c>,x@y.z (X),", PageState::SendWait},
        {Route::Write, true, "", PageState::AddressErrorPage},
        {Route::Write, true, "a@b.c,t@host", PageState::AddressErrorPage},
        {Route::SetupDelete, true, "", PageState::SetupDeleteSubmit},
        {Route::NewUser, false, "", PageState::NewUserSubmit},
        {Route::NotFound, true, "", PageState::Receiving}, // no answer at all
        {Route::Setup, false, "", PageState::Done},
    };
    for (const auto& t : cases) {
        SCOPED_TRACE(static_cast<int>(t.route));
        gCalls.clear();
        out.clear();
        ConnectionPtr c = As(t.user ? taro : nullptr, t.route);
        snprintf(c->send.sendTo, sizeof c->send.sendTo, "%s", t.to);
        EvaluatePost(*c);
        EXPECT_EQ(c->state, t.state);
        EXPECT_EQ(gCalls, t.state == PageState::SendWait ? "smtp " : "");
        ExpectAnswer(t.state == PageState::Done ? "id_error.ref" : "");
    }
}

TEST(RecipientsValidTest, CcAndBccCountToo) {
    EXPECT_FALSE(RecipientsValid("a@b.c", "", "c <x+y@b.c>"));
    EXPECT_FALSE(RecipientsValid("a@b.c", "bad@host", ""));
    EXPECT_TRUE(RecipientsValid("a@b.c", nullptr, "local"));
}

} // namespace
