#include "server/login/login.h"
#include "server/login/top_page.h"
#include "server/route/page_fixture.h"
#include "server_golden.h"

#include <set>

namespace {

size_t Count(const std::string& text, const std::string& piece) {
    size_t n = 0;
    for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) n++;
    return n;
}

class TopPageTest : public PageTest {
protected:
    std::string Page(PageState state, int english, int browser = 0) {
        out.clear();
        ConnectionPtr c = Capture(english);
        c->browser = static_cast<uint16_t>(browser);
        c->state = state;
        Dispatcher(*c);
        EXPECT_EQ(c->state, PageState::Done);
        return MaskDates(out);
    }
};

// The pages' texts are checked by the browser and integration tests; here,
// which login blocks each language policy and user count lead to.
TEST_F(TopPageTest, LanguagePolicyUsersAndRegistration) {
    AddUser("taro");
    for (int policy = 0; policy < 8; policy++) {
        for (int english : {0, 1}) {
            SCOPED_TRACE(testing::Message() << "policy " << policy << " english " << english);
            data_store().settings.language_policy = policy;
            std::string page = Page(PageState::TopPage, english);
            bool jp = !english && (policy & 1), en = english || (policy & 2);
            EXPECT_EQ(Count(page, "action=\"/mail/index.html\""), jp ? 1u : 0u);
            EXPECT_EQ(Count(page, "action=\"/mail/index.html?lang=eng\""), en ? 1u : 0u);
            EXPECT_EQ(Count(page, "</font><br><br><form"), jp && en ? 1u : 0u);
        }
    }
    data_store().settings.language_policy = 2;
    data_store().settings.browser_registration = 0;
    EXPECT_EQ(Count(Page(PageState::TopPage, 1), "Add Users"), 0u);
    data_store().settings.browser_registration = 1;
    clear_users(data_store().users);
    std::string none = Page(PageState::TopPage, 1); // no form, but registration
    EXPECT_EQ(Count(none, "<form") + Count(none, "Read/Write"), 0u);
    EXPECT_EQ(Count(none, "</pre></form><font size=+1><a href=\"/mail/new/index.html?lang=eng\">"),
              1u);
    for (int i = 0; i < max_users; i++) AddUser("u" + std::to_string(i));
    std::string full = Page(PageState::TopPage, 1);
    EXPECT_EQ(Count(full, "<form"), 1u);
    EXPECT_EQ(Count(full, "Add Users"), 0u);
}

TEST_F(TopPageTest, BrowserAuthenticationAdvice) {
    AddUser("taro");
    BasicSettings& s = data_store().settings;
    s.language_policy = 2;
    s.browser_auth = 1;
    s.close_browser = 1;
    const std::string msie = Page(PageState::TopPage, 1, kBrowserMozilla2 | kBrowserMsie);
    EXPECT_EQ(Count(msie, "<form"), 0u);
    EXPECT_EQ(Count(msie, "<a href=\"/mail/index.html?lang=eng\">Read/Write Mail</a>"), 1u);
    EXPECT_EQ(Count(msie, "<font size=2>Be sure to close the browser after reading or writing "
                          "mail.<br>Clicking the Finish Reading/Writing located on the "
                          "upper/lower part of the list of received messages closes the "
                          "browser.<br>Do not check 'Save This Password' of the "
                          "authentication dialog.<br></font>"),
              1u);
    s.close_browser = 0;
    std::string plain = Page(PageState::TopPage, 1);
    EXPECT_EQ(Count(plain, "Clicking") + Count(plain, "Save This Password"), 0u);
}

TEST_F(TopPageTest, LogoutPage) {
    EXPECT_GOLDEN("pages/logout.ref", Page(PageState::LogoutPage, 1));
    data_store().settings.close_browser = 1;
    EXPECT_GOLDEN("pages/logout_close.ref", Page(PageState::LogoutPage, 1));
    const std::string own = "<html>bye " + Sjis("さようなら") + "</html>";
    WriteFile(home + "/html/logout.html", own);
    EXPECT_EQ(Page(PageState::LogoutPage, 0), StatusBlock(200) + own);
}

TEST(SecretEqualsTest, WholeValueMustMatch) {
    char stored[8] = "abc", empty[8] = "";
    for (const char* given : {"ab", "abcd", "", "abd", "abcdefghij"})
        EXPECT_FALSE(SecretEquals(stored, sizeof stored, given)) << given;
    EXPECT_TRUE(SecretEquals(stored, sizeof stored, "abc"));
    EXPECT_TRUE(SecretEquals(empty, sizeof empty, ""));
}

} // namespace
