#include "mail/mail_golden.h"
#include "server/login/login.h"
#include "server/login/top_page.h"
#include "server/request/forwarded_address.h"
#include "server/request/request_reader.h"
#include "server/route/page_fixture.h"
#include "server/server_cases.h"
#include "store/login_throttle.h"

namespace {

using Clock = LoginThrottle::Clock;

TEST(LoginThrottle, ANameIsCountedPerAddressAndAnAddressAcrossNames) {
    LoginThrottle t;
    const Clock::time_point start = Clock::now();
    for (const auto& steps : CASE_BLOCKS("cases/throttle.cases"))
        for (const std::string& step : steps) {
            SCOPED_TRACE(step);
            std::istringstream in(step);
            std::string what, name, address;
            int ms = 0, want = 0, count = 0, free = 0;
            if (in >> what; what == "waits") {
                in >> count >> free >> want;
                EXPECT_EQ(LoginThrottle::waitSeconds(count, free), want);
                continue;
            }
            in >> name >> address >> ms >> want;
            const Clock::time_point when = start + std::chrono::milliseconds(ms);
            if (what == "failed")
                t.failed(name, address, when);
            else if (what == "succeeded")
                t.succeeded(name, address);
            else if (what == "allowed")
                EXPECT_EQ(t.allowed(name, address, when), want == 1);
            else
                EXPECT_EQ(t.waitLeft(name, address, when), want);
        }
}

class LoginPageTest : public PageTest {};

TEST_F(LoginPageTest, TheRightPasswordWaitsToo) {
    AddUser("taro");
    ConnectionPtr c = Capture();
    c->clientAddress = AddressOf("192.0.2.7");
    strcpy(c->userName, "taro");
    strcpy(c->password, "wrong");
    for (int i = 0; i < 5; i++) EXPECT_EQ(CheckLogin(*c), nullptr);
    strcpy(c->password, "pw");
    EXPECT_EQ(CheckLogin(*c), nullptr);
    EXPECT_GT(c->throttleWait, 0);
    RefuseLogin(*c);
    EXPECT_NE(out.find("Too many failed logins: please wait 2 seconds before you try again."),
              std::string::npos)
        << out;
    login_throttle().clear();
    EXPECT_NE(CheckLogin(*c), nullptr);
}

// The login blocks of each language policy; registration by the user count;
// the advice of browser authentication; the logout page, closing the browser
// or the gateway's own. Each case changes the settings it names ("-": as
// before) and the number of users.
TEST_F(LoginPageTest, TopAndLogoutPages) {
    BasicSettings& s = data_store().settings;
    std::string pages;
    for (const auto& k : SERVER_CASES("cases/top_pages.ref")) {
        for (auto [field, word] : {std::pair{1, &BasicSettings::language_policy},
                                   {2, &BasicSettings::browser_registration},
                                   {3, &BasicSettings::browser_auth},
                                   {4, &BasicSettings::close_browser}})
            if (k.at(field) != "-") s.*word = std::stoi(k.at(field));
        if (k.at(5) != "-") clear_users(data_store().users);
        for (int i = 0; k.at(5) != "-" && i < std::stoi(k.at(5)); i++)
            AddUser(i ? "u" + std::to_string(i) : "taro");
        if (k.at(9) != "-") WriteFile(home + "/html/logout.html", k.at(9));
        out.clear();
        ConnectionPtr c = Capture(std::stoi(k.at(6)));
        c->browser = static_cast<uint16_t>(std::stoi(k.at(7), nullptr, 0));
        c->state = k.at(8) == "logout" ? PageState::LogoutPage : PageState::TopPage;
        Dispatcher(*c);
        EXPECT_EQ(c->state, PageState::Done);
        pages += "=== " + k.at(0) + "\n" + MaskDates(out) + "\n";
    }
    EXPECT_GOLDEN("pages/top.ref", pages);
}

TEST(SecretEqualsTest, WholeValueMustMatch) {
    char stored[8] = "abc", empty[8] = "";
    for (const char* given : {"ab", "abcd", "", "abd", "abcdefghij"})
        EXPECT_FALSE(SecretEquals(stored, sizeof stored, given)) << given;
    EXPECT_TRUE(SecretEquals(stored, sizeof stored, "abc"));
    EXPECT_TRUE(SecretEquals(empty, sizeof empty, ""));
}

// Whole requests against the session rules: the cookie that proves a login,
// the cookie a login answer sets, owner-only attachments and form tokens.
const std::string kQ = "?user=taro?check=5";

class SessionBinding : public PageTest {
protected:
    void SetUp() override {
        PageTest::SetUp();
        taro = LoggedIn("taro");
        Attach(taro, "taro.0", "report.txt", "secret report");
    }
};

TEST_F(SessionBinding, AddressAloneOpensNothing) {
    const std::string get = "GET /mail/book/index.html" + kQ + " HTTP/1.0\r\n";
    for (const auto& k : SERVER_CASES("cases/cookies.ref")) {
        SCOPED_TRACE(k.at(0));
        ConnectionPtr c = Feed(get + k.at(0) + "\r\n");
        EXPECT_EQ(c->user, k.at(1) == "1" ? taro : nullptr);
        if (k.at(1) == "1") continue;
        EXPECT_STREQ(c->loginQuery, "?lang=eng");
        EXPECT_NE(out.find("ID error"), std::string::npos);
    }
    // An attachment opens only for a browser of its owner.
    const std::string file = "GET /mail/~taro/report.txt HTTP/1.0\r\n";
    std::string pages = "=== taro's browser\n" + Answer(file + kCookieLine + "\r\n");
    session_insert("hanako", 9, "ffffffffffffffffffffffffffffffff", Now());
    pages += "\n=== no cookie\n" + Answer(file + "\r\n");
    pages += "\n=== hanako's browser\n" +
             Answer(file + "Cookie: tarnbox=ffffffffffffffffffffffffffffffff\r\n\r\n");
    EXPECT_GOLDEN("pages/attachment_owner.ref", pages);
}

TEST_F(SessionBinding, LoginSetsTheCookieAndLogoutEndsIt) {
    AddUser("hanako");
    ConnectionPtr login = Feed(Post("/mail/sent/index.html", "", "a=hanako&b=pw"));
    Produce(*login);
    const size_t at = out.find("Set-Cookie: tarnbox=");
    ASSERT_NE(at, std::string::npos) << out;
    const std::string cookie = out.substr(at + 20, 32);
    EXPECT_EQ(out.substr(at + 52, 37), "; Path=/; HttpOnly; SameSite=Strict\r\n");
    const std::string query = login->loginQuery;
    ASSERT_EQ(query.find("?user=hanako?check="), 0u);
    const std::string proof = "Cookie: tarnbox=" + cookie + "\r\n";
    EXPECT_NE(Feed("GET /mail/book/index.html" + query + " HTTP/1.0\r\n" + proof + "\r\n")->user,
              nullptr);

    std::string page =
        Answer("GET /mail/logout/index.html" + query + " HTTP/1.0\r\n" + proof + "\r\n");
    EXPECT_NE(page.find("Set-Cookie: tarnbox=; Path=/; HttpOnly; SameSite=Strict; Max-Age=0\r\n"),
              std::string::npos)
        << page;
    EXPECT_EQ(Feed("GET /mail/book/index.html" + query + " HTTP/1.0\r\n" + proof + "\r\n")->user,
              nullptr);
    // taro's session in the same table is untouched.
    EXPECT_EQ(Feed("GET /mail/book/index.html" + kQ + " HTTP/1.0\r\n" + kCookieLine + "\r\n")->user,
              taro);
}

TEST_F(SessionBinding, BehindAnHttpsProxyTheCookieIsSecure) {
    ClearTrustedProxies();
    ASSERT_TRUE(AddTrustedProxy("127.0.0.1"));
    Answer(Post("/mail/sent/index.html", "X-Real-IP: 203.0.113.9\r\nX-Forwarded-Proto: https\r\n",
                "a=taro&b=pw"),
           1, 20, "127.0.0.1");
    ClearTrustedProxies();
    const size_t at = out.find("Set-Cookie: __Host-tarnbox=");
    ASSERT_NE(at, std::string::npos) << out;
    EXPECT_EQ(out.substr(at + 59, 45), "; Path=/; HttpOnly; SameSite=Strict; Secure\r\n");
}

TEST_F(SessionBinding, ChangesNeedTheFormTokenFromTheOwnSite) {
    for (const auto& k : SERVER_CASES("cases/form_tokens.ref")) {
        SCOPED_TRACE(k.at(0) + k.at(1));
        ConnectionPtr c = Feed(Post("/mail/book/index.html" + kQ, kCookieLine + k.at(0), k.at(1)));
        EXPECT_EQ(c->state == PageState::AddressBookSubmit, k.at(2) == "1");
        EXPECT_EQ(out.find("This form is not valid") != std::string::npos, k.at(2) == "0");
    }
    // A deleting link that another site sends is refused too.
    ConnectionPtr c = Feed("GET /mail/sent/index.html?delete=1" + kQ + " HTTP/1.0\r\n" +
                           kCookieLine + "Sec-Fetch-Site: cross-site\r\n\r\n");
    EXPECT_NE(c->state, PageState::SentDeletePage);
    EXPECT_NE(out.find("This form is not valid"), std::string::npos);
}

} // namespace
