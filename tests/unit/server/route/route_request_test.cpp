#include "server/route/page_fixture.h"
#include "server/server_cases.h"

namespace {

// The parameters routing filled in, non-empty ones only; the file found is
// given relative to the home folder.
std::string Fields(const Connection& c, const std::string& home) {
    std::string s;
    auto add = [&s](const char* name, std::string value) {
        if (!value.empty()) s += std::string(s.empty() ? "" : " ") + name + "=" + value;
    };
    add("to", c.composeTo);
    add("delete", c.deleteList);
    add("back", c.bookBack);
    add("add", c.bookAdd);
    add("sent", c.sentToken);
    add("query", c.loginQuery);
    if (c.file >= 0) add("file", std::string(c.downloadPath).substr(home.size()));
    return s;
}

class RouteTest : public PageTest {
protected:
    void SetUp() override {
        PageTest::SetUp();
        taro = LoggedIn("taro");
        AttachmentEntry* a = taro->runtime.attachments;
        snprintf(a[0].file_name, kFieldSize, "report.txt");
        snprintf(a[0].message_name, kFieldSize, "Report.txt");
        snprintf(a[1].file_name, kFieldSize, "att1.bin");
        snprintf(a[1].message_name, kFieldSize, "%s", Sjis("日本.txt").c_str());
        taro->runtime.attachmentCount = 2;
        WriteFile(home + "/html/index.html", "home");
        WriteFile(home + "/html/logo.gif", "GIF89a");
        WriteFile(home + "/html/docs/index.html", "docs");
        WriteFile(home + "/bg.JPG", "jpeg");
        snprintf(data_store().settings.background_image, 256, "bg.JPG");
    }
    ::Route RouteOf(const char* line) {
        ConnectionPtr c = Capture(0);
        Route(*c, line);
        return c->route;
    }
    UserRecord* taro = nullptr;
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

TEST_F(RouteTest, TopPageNameSuspensionAndLogoutWithBrowserAuth) {
    BasicSettings& s = data_store().settings;
    snprintf(s.top_page, sizeof s.top_page, "welcome.html");
    EXPECT_EQ(RouteOf("/welcome.html?lang=eng HTTP/1.0"), Route::Top);
    EXPECT_EQ(RouteOf("/ HTTP/1.0"), Route::Static); // the folder's index.html
    EXPECT_EQ(RouteOf("/index.html HTTP/1.0"), Route::Static);

    s.remote_control = 1;
    serviceActive = 0;
    for (const char* line :
         {"/welcome.html HTTP/1.0", "/ HTTP/1.0", "/docs/ HTTP/1.0",
          "/mail/index.html?user=taro?check=5 HTTP/1.0", "/mail/~taro/report.txt HTTP/1.0"})
        EXPECT_EQ(RouteOf(line), Route::NotFound) << line;
    EXPECT_EQ(RouteOf("/back/x.gif HTTP/1.0"), Route::Static);
    EXPECT_EQ(RouteOf("/remote/index.html HTTP/1.0"), Route::Remote);

    serviceActive = 1;
    s.browser_auth = 1;
    EXPECT_EQ(RouteOf("/mail/logout/index.html HTTP/1.0"), Route::NotFound);
    s.close_browser = 1;
    EXPECT_EQ(RouteOf("/mail/logout/index.html?lang=eng HTTP/1.0"), Route::Logout);
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

} // namespace
