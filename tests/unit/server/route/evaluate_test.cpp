#include "server/route/page_fixture.h"

namespace {

std::string gCalls;
std::string gTo;

void FakePop3(Connection& c) {
    gCalls += "pop3:" + std::to_string(c.settingsIndex) + " ";
    c.workerResult = 1;
}

const std::string kIdError = "<html><head>" + kHeadLines + "</head><body>" + LangSwitch(true, "/") +
                             "<font size=+1>ID error</font><br><br>   Input user name "
                             "does not exist or password is incorrect.<br>";
const std::string kRefused =
    kIdError + "<center><hr><a href=\"/\">Go to top page</a></center></body></html>";

class EvaluateTest : public PageTest {
protected:
    void SetUp() override {
        PageTest::SetUp();
        gCalls.clear();
        taro = LoggedIn("taro");
        StartAllSettingsWorkers = [](Connection&) { gCalls += "all "; };
        DeleteTokenMatches = [](Connection&, int, const char* t) { return !strcmp(t, "<id@h>"); };
        StartSendWorker = [](Connection&) { gCalls += "smtp "; };
        ComposeRecipients = [](Connection&) { return Recipients{gTo.c_str(), "", ""}; };
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
    UserRecord* taro = nullptr;
};

TEST_F(EvaluateTest, StateOfEachLoggedInRoute) {
    StartMailWorker = FakePop3;
    const int32_t lt = 1000; // the user's listTime
    const struct {
        ::Route route;
        int item;
        const char* del;
        int32_t listField, openBefore;
        int multiple;
        PageState state;
        int itemAfter;
        int32_t openAfter;
        const char* delAfter;
        const char* calls;
    } cases[] = {
        {Route::Mail, 0, "", 0, 7, 0, PageState::ListWait, 0, 0, "", "pop3:0 "},
        {Route::Mail, 12, "", 0, 0, 0, PageState::MessageWait, 12, 12, "", "pop3:0 "},
        {Route::Mail, -12, "<id@h>", 0, 12, 0, PageState::DeleteWait, 12, 0, "12,", "pop3:0 "},
        {Route::Mail, -12, "<x@h>", 0, 12, 0, PageState::ListWait, 12, 0, "", "pop3:0 "},
        {Route::Mail, -12, "<id@h>", 0, 3, 0, PageState::ListWait, 12, 0, "", "pop3:0 "},
        {Route::Mail, 0, "a1,", lt, 0, 0, PageState::DeleteWait, 0, 0, "a1,", "pop3:0 "},
        {Route::Mail, 0, "a1,", lt - 1, 4, 0, PageState::ListWait, 0, 0, "a1,", "pop3:0 "},
        {Route::Mail, 0, "", 0, 0, 1, PageState::ListWait, 0, 0, "", "all pop3:0 "},
        {Route::Mail, 0, "b3,", lt, 0, 1, PageState::DeleteWait, 0, 0, "b3,", "all pop3:0 "},
        {Route::Mail, 5, "", 0, 0, 1, PageState::MessageWait, 5, 5, "", "pop3:0 "},
        {Route::MailAsText, 4, "", 0, 0, 0, PageState::TextWait, 4, 4, "", "pop3:0 "},
        {Route::SetupDelete, 0, "", 0, 9, 0, PageState::ListWait, 0, 0, "", "pop3:0 "},
        {Route::Write, 0, "", 0, 9, 0, PageState::ComposePage, 0, 0, "", ""},
        {Route::Sent, 0, "", 0, 9, 0, PageState::SentListPage, 0, 9, "", ""},
        {Route::Sent, 3, "", 0, 9, 0, PageState::SentMessagePage, 3, 9, "", ""},
        {Route::Sent, -3, "", 0, 9, 0, PageState::SentDeletePage, -3, 9, "", ""},
        {Route::Sent, 0, "1,", lt, 9, 0, PageState::SentDeletePage, 0, 9, "1,", ""},
        {Route::Sent, 2, "1,", lt - 1, 9, 0, PageState::SentMessagePage, 2, 9, "1,", ""},
        {Route::Top, 0, "", 0, 9, 0, PageState::TopPage, 0, 9, "", ""},
    };
    for (const auto& t : cases) {
        SCOPED_TRACE(testing::Message() << "route " << static_cast<int>(t.route) << " item "
                                        << t.item << " " << t.del);
        gCalls.clear();
        data_store().settings.multiple_addresses = t.multiple;
        taro->runtime.listTime = lt;
        taro->runtime.openMessage = t.openBefore;
        ConnectionPtr c = As(taro, t.route);
        c->itemNumber = t.item;
        snprintf(c->deleteList, sizeof c->deleteList, "%s", t.del);
        c->listTimeField = t.listField;
        EvaluateRequest(*c);
        EXPECT_EQ(c->state, t.state);
        EXPECT_EQ(c->itemNumber, t.itemAfter);
        EXPECT_EQ(taro->runtime.openMessage, t.openAfter);
        EXPECT_STREQ(c->deleteList, t.delAfter);
        EXPECT_EQ(gCalls, t.calls);
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
        std::string answer;
    } cases[] = {
        {Route::Top, 0, kAuthNone, PageState::TopPage, ""},
        {Route::Remote, 0, kAuthNone, PageState::RemotePage, ""},
        {Route::NewUser, 0, kAuthNone, PageState::NewUserPage, ""},
        {Route::Mail, 0, kAuthNone, PageState::Done, StatusBlock(404) + kRefused},
        {Route::Sent, 1, kAuthNone, PageState::Done,
         "HTTP/1.0 401 Unauthorized\r\n" + PageSafetyLines() +
             "WWW-Authenticate: BASIC realm=\"pop3 user name and "
             "password\"\r\n\r\n" +
             kRefused},
        {Route::Write, 1, kAuthRejected, PageState::Done,
         "HTTP/1.0 401 Unauthorized\r\n" + PageSafetyLines() + "\r\n" + kRefused},
        {Route::Logout, 0, kAuthNone, PageState::Done,
         StatusBlock(404) + "<html><head>" + kHeadLines + "</head><body>" + LangSwitch(true, "/") +
             "<font size=+1>File Not Found</font><br><br>  Designated "
             "URL does not exist.<br></body></html>"},
    };
    for (const auto& t : cases) {
        SCOPED_TRACE(static_cast<int>(t.route));
        data_store().settings.browser_auth = t.browserAuth;
        out.clear();
        ConnectionPtr c = As(nullptr, t.route);
        c->auth = t.auth;
        EvaluateRequest(*c);
        EXPECT_EQ(c->state, t.state);
        EXPECT_EQ(MaskDates(out), t.answer);
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
            EXPECT_EQ(MaskDates(out), StatusBlock(404) + kRefused);
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
        gTo = t.to;
        out.clear();
        ConnectionPtr c = As(t.user ? taro : nullptr, t.route);
        EvaluatePost(*c);
        EXPECT_EQ(c->state, t.state);
        EXPECT_EQ(gCalls, t.state == PageState::SendWait ? "smtp " : "");
        EXPECT_EQ(MaskDates(out), t.state == PageState::Done ? StatusBlock(200) + kIdError : "");
    }
}

TEST(RecipientsValidTest, CcAndBccCountToo) {
    EXPECT_FALSE(RecipientsValid("a@b.c", "", "c <x+y@b.c>"));
    EXPECT_FALSE(RecipientsValid("a@b.c", "bad@host", ""));
    EXPECT_TRUE(RecipientsValid("a@b.c", nullptr, "local"));
}

} // namespace
