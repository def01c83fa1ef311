#include "server/route/page_fixture.h"

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
    const std::string q = "?user=taro?check=5", lq = "query=" + q;
    const struct {
        std::string line; // before " HTTP/1.0"
        int multiple;
        ::Route route;
        int set, item, auth;
        std::string fields;
    } cases[] = {
        {"/", 0, Route::Top, 0, 0, 0, ""},
        {"/?lang=eng", 0, Route::Top, 0, 0, 0, "query=?lang=eng"},
        {"/index.html?lang=eng", 0, Route::Top, 0, 0, 0, "query=?lang=eng"},
        {"/mail/", 0, Route::Mail, 0, 0, 0, ""},
        {"/mail/index.html" + q, 0, Route::Mail, 0, 0, 1, lq},
        {"/mail/index.html" + q + "?lang=eng", 0, Route::Mail, 0, 0, 1, lq + "?lang=eng"},
        {"/mail/b12.html" + q, 0, Route::Mail, 1, 12, 1, lq},
        {"/mail/12.html", 0, Route::Mail, 0, 12, 0, ""},
        {"/mail/12.txt" + q, 0, Route::MailAsText, 0, 12, 1, lq},
        {"/mail/c0003.txt", 0, Route::MailAsText, 2, 3, 0, ""},
        {"/mail/index.html?delete=b12.%3Cid%40h%3E" + q, 0, Route::Mail, 1, -12, 1,
         "delete=<id@h> " + lq},
        {"/mail/index.html#a0012?delete=a7.x,y", 0, Route::Mail, 0, -7, 0, "delete=x"},
        {"/mail/write/", 0, Route::Write, 0, 0, 0, ""},
        {"/mail/write/index.html?to=a@b.c" + q, 0, Route::Write, 0, 0, 1, "to=a@b.c " + lq},
        {"/mail/write/index2.html?to=a@b.c", 0, Route::Write, 0, 0, 0, ""},
        {"/mail/write/index2.html?to=a@b.c", 1, Route::Write, 1, 0, 0, "to=a@b.c"},
        {"/mail/write/index.html?to=x@y.z?lang=eng", 1, Route::Write, 0, 0, 0,
         "to=x@y.z query=?lang=eng"},
        {"/mail/new/index.html?lang=eng", 0, Route::NewUser, 0, 0, 0, "query=?lang=eng"},
        {"/mail/setup/index.html", 0, Route::Setup, 0, 0, 0, ""},
        {"/mail/setup/index3.html", 1, Route::Setup, 2, 0, 0, ""},
        {"/mail/setup/delete3.html", 1, Route::SetupDelete, 2, 0, 0, ""},
        {"/mail/setup/delete3.html", 0, Route::Setup, 0, 0, 0, ""},
        {"/mail/setup/delete.html", 1, Route::SetupDelete, 0, 0, 0, ""},
        {"/mail/book/index.html?back=a0012?add=Taro%20%3Ct@b.c%3E" + q, 0, Route::Book, 0, 0, 1,
         "back=a0012 add=Taro <t@b.c> " + lq},
        {"/mail/book/index.html?back=b0003", 0, Route::Book, 0, 0, 0, "back=b0003"},
        {"/mail/book/index.html?back=?add=x", 0, Route::Book, 0, 0, 0, ""},
        {"/mail/sent/", 0, Route::Sent, 0, 0, 0, ""},
        {"/mail/sent/0003.html", 0, Route::Sent, 0, 3, 0, ""},
        {"/mail/sent/index.html?delete=4.2026%2F12%2F04%2013%3A05" + q, 0, Route::Sent, 0, -4, 1,
         "sent=2026/12/04 13:05 " + lq},
        {"/mail/logout/index.html" + q, 0, Route::Logout, 0, 0, 1, lq},
        {"/mail/logout/logo.gif", 0, Route::Static, 0, 0, 1, "file=/html/logo.gif"},
        {"/mail/~taro/report.txt", 0, Route::Attachment, 0, 0, 1, ""},
        {"/mail/~taro/Report.txt", 0, Route::Attachment, 0, 0, 1, ""},
        {"/mail/~taro/%E6%97%A5%E6%9C%AC.txt", 0, Route::Attachment, 0, 1, 1, ""},
        {"/mail/~taro/missing.txt", 0, Route::NotFound, 0, 0, 0, ""},
        {"/mail/~jiro/report.txt", 0, Route::NotFound, 0, 0, 0, ""},
        {"/mail/taro/report.txt", 0, Route::NotFound, 0, 0, 0, ""},
        {"/mail/logo.gif", 0, Route::NotFound, 0, 0, 0, ""},
        {"/back/anything.gif", 0, Route::Static, 0, 0, 0, "file=/bg.JPG"},
        {"/docs/", 0, Route::Static, 0, 0, 1, "file=/html/docs/index.html"},
        {"/nothing.html", 0, Route::NotFound, 0, 0, 0, ""},
        {"/remote/index.html", 0, Route::NotFound, 0, 0, 0, ""},
    };
    for (const auto& t : cases) {
        SCOPED_TRACE(t.line + (t.multiple ? " (multiple addresses)" : ""));
        data_store().settings.multiple_addresses = t.multiple;
        ConnectionPtr c = Capture(0);
        Route(*c, t.line + " HTTP/1.0");
        EXPECT_EQ(c->route, t.route);
        EXPECT_EQ(c->settingsIndex, t.set);
        EXPECT_EQ(c->itemNumber, t.item);
        EXPECT_EQ(c->auth, t.auth);
        EXPECT_EQ(Fields(*c, home), t.fields);
        EXPECT_EQ(c->user != nullptr, t.auth == 1 && t.route != Route::Static);
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
    const struct {
        int32_t check, listAge;
        const char* query;
        int browserAuth;
        bool holds;
    } cases[] = {
        {5, 60, "?user=taro?check=5", 0, true},    {5, 3599, "?user=taro?check=5", 0, true},
        {5, 3600, "?user=taro?check=5", 0, false}, {5, 60, "?user=taro?check=6", 0, false},
        {5, 60, "?user=taro?check=", 0, false},    {0, 60, "?user=taro?check=0", 0, false},
        {5, 60, "?user=Taro?check=5", 0, false},   {5, 60, "?user=%74aro?check=5", 0, true},
        {5, 60, "?check=5?user=taro", 0, true},    {5, 60, "?user=taro?check=5", 1, false},
    };
    for (const auto& t : cases) {
        SCOPED_TRACE(testing::Message() << t.query << " age " << t.listAge << " check " << t.check);
        data_store().settings.browser_auth = t.browserAuth;
        session_close_all();
        session_insert("taro", t.check, kTestCookie, Now() - t.listAge);
        ConnectionPtr c = Capture(0);
        Route(*c, std::string("/mail/index.html") + t.query + " HTTP/1.0");
        EXPECT_EQ(c->route, Route::Mail);
        EXPECT_EQ(c->user == taro && c->auth == kAuthOk, t.holds);
        EXPECT_STREQ(c->loginQuery, t.holds ? "?user=taro?check=5" : "");
    }
}

} // namespace
