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
    int32_t previous = 5;
    for (const auto& k : SERVER_CASES("cases/form_logins.ref")) {
        SCOPED_TRACE(k.at(1) + "/" + k.at(2));
        const ::Route route = RouteNamed(k.at(0));
        const bool ok = k.at(3) == "1";
        out.clear();
        ConnectionPtr c = As(nullptr, route);
        snprintf(c->formSlots[0], kFieldSize, "%s", k.at(1).c_str());
        snprintf(c->formSlots[2], kFieldSize, "%s", k.at(2).c_str());
        EvaluatePost(*c);
        int32_t check = ok ? c->sessionCheck : previous;
        EXPECT_EQ(c->user == taro, ok);
        if (!ok) {
            EXPECT_EQ(check, previous);
            ExpectAnswer("refused.ref");
            continue;
        }
        EXPECT_TRUE(check > 0 && check != previous); // each login its own session
        EXPECT_EQ(strlen(c->cookieToSet), 32u);
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
        snprintf(c->send.sendTo, sizeof c->send.sendTo, "%s", k.at(2).c_str());
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

} // namespace
