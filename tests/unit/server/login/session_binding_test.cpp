// Whole requests against the session rules: the cookie that proves a login,
// the cookie a login answer sets, owner-only attachments and form tokens.
#include "server/route/page_fixture.h"

#include "server/request/forwarded_address.h"
#include "server/request/request_reader.h"
#include "server/request/request_test_util.h"
#include <arpa/inet.h>

namespace {

using request_test::Post;

const std::string kQ = "?user=taro?check=5";

class SessionBinding : public PageTest {
protected:
    void SetUp() override {
        PageTest::SetUp();
        taro = LoggedIn("taro");
        AttachmentEntry& a = taro->runtime.attachments[0];
        snprintf(a.file_name, sizeof a.file_name, "taro.0");
        snprintf(a.message_name, sizeof a.message_name, "report.txt");
        taro->runtime.attachmentCount = 1;
        WriteFile(home + "/temp/taro/taro.0", "secret report");
    }
    // Feeds a whole request; the connection as it stands afterwards.
    ConnectionPtr Feed(const std::string& request) {
        out.clear();
        ConnectionPtr c = Capture(1);
        EXPECT_EQ(FeedBytes(*c, request.data(), static_cast<int>(request.size())), 1);
        return c;
    }
    std::string Answer(const std::string& request) {
        ConnectionPtr c = Feed(request);
        for (int i = 0; i < 20 && c->state != PageState::Done; i++) Dispatcher(*c);
        return MaskDates(out);
    }
    UserRecord* taro = nullptr;
};

TEST_F(SessionBinding, AddressAloneOpensNothing) {
    const std::string get = "GET /mail/book/index.html" + kQ + " HTTP/1.0\r\n";
    EXPECT_EQ(Feed(get + kCookieLine + "\r\n")->user, taro);
    for (const std::string& cookie :
         {std::string(), std::string("Cookie: other=") + kTestCookie + "\r\n",
          std::string("Cookie: tarnbox=") + std::string(kTestCookie).substr(1) + "\r\n",
          std::string("Cookie: tarnbox=") + kTestCookie + "0\r\n"}) {
        SCOPED_TRACE(cookie);
        ConnectionPtr c = Feed(get + cookie + "\r\n");
        EXPECT_EQ(c->user, nullptr);
        EXPECT_STREQ(c->loginQuery, "?lang=eng");
        EXPECT_NE(out.find("ID error"), std::string::npos);
    }
    // Among several cookies the session's is found, wherever it stands.
    EXPECT_EQ(Feed(get + "Cookie: a=1; tarnbox=" + kTestCookie + "; b=2\r\n\r\n")->user, taro);
}

TEST_F(SessionBinding, LoginSetsTheCookieAndLogoutEndsIt) {
    AddUser("hanako");
    ConnectionPtr login = Feed(Post("/mail/sent/index.html", "", "a=hanako&b=pw"));
    for (int i = 0; i < 20 && login->state != PageState::Done; i++) Dispatcher(*login);
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
    const std::string request =
        Post("/mail/sent/index.html", "X-Real-IP: 203.0.113.9\r\nX-Forwarded-Proto: https\r\n",
             "a=taro&b=pw");
    out.clear();
    ConnectionPtr c = Capture(0);
    auto* v4 = reinterpret_cast<sockaddr_in*>(&c->clientAddress);
    v4->sin_family = AF_INET;
    inet_pton(AF_INET, "127.0.0.1", &v4->sin_addr);
    FeedBytes(*c, request.data(), static_cast<int>(request.size()));
    for (int i = 0; i < 20 && c->state != PageState::Done; i++) Dispatcher(*c);
    ClearTrustedProxies();
    const size_t at = out.find("Set-Cookie: __Host-tarnbox=");
    ASSERT_NE(at, std::string::npos) << out;
    EXPECT_EQ(out.substr(at + 59, 45), "; Path=/; HttpOnly; SameSite=Strict; Secure\r\n");
}

TEST_F(SessionBinding, AttachmentsOnlyForABrowserOfTheirOwner) {
    const std::string get = "GET /mail/~taro/report.txt HTTP/1.0\r\n";
    std::string page = Answer(get + kCookieLine + "\r\n");
    EXPECT_NE(page.find("secret report"), std::string::npos) << page;
    EXPECT_NE(page.find("Content-Disposition: attachment"), std::string::npos);
    session_insert("hanako", 9, "ffffffffffffffffffffffffffffffff", Now());
    for (const std::string& cookie :
         {std::string(), std::string("Cookie: tarnbox=ffffffffffffffffffffffffffffffff\r\n")}) {
        page = Answer(get + cookie + "\r\n");
        EXPECT_EQ(page.find("secret report"), std::string::npos) << cookie;
        EXPECT_NE(page.find("ID error"), std::string::npos);
    }
}

TEST_F(SessionBinding, ChangesNeedTheFormTokenFromTheOwnSite) {
    int saved = 0;
    const std::string target = "/mail/book/index.html" + kQ;
    const struct {
        std::string headers, body;
        bool accepted;
    } cases[] = {
        {kCookieLine, kPostedToken + "message=x", true},
        {kCookieLine, "message=x", false},
        {kCookieLine, "csrf=fedcba9876543210fedcba987654321&message=x", false},
        {kCookieLine, kPostedToken.substr(0, kPostedToken.size() - 1) + "0&message=x", false},
        {kCookieLine + "Sec-Fetch-Site: cross-site\r\n", kPostedToken + "message=x", false},
        {kCookieLine + "Sec-Fetch-Site: same-origin\r\n", kPostedToken + "message=x", true},
    };
    for (const auto& t : cases) {
        SCOPED_TRACE(t.headers + t.body);
        ConnectionPtr c = Feed(Post(target, t.headers, t.body));
        const bool accepted = c->state == PageState::AddressBookSubmit;
        EXPECT_EQ(accepted, t.accepted);
        if (!accepted) {
            EXPECT_NE(out.find("This form is not valid"), std::string::npos);
        }
        saved += accepted;
    }
    EXPECT_EQ(saved, 2);
    // A deleting link that another site sends is refused too.
    ConnectionPtr c = Feed("GET /mail/sent/index.html?delete=1" + kQ + " HTTP/1.0\r\n" +
                           kCookieLine + "Sec-Fetch-Site: cross-site\r\n\r\n");
    EXPECT_NE(c->state, PageState::SentDeletePage);
    EXPECT_NE(out.find("This form is not valid"), std::string::npos);
}

} // namespace
