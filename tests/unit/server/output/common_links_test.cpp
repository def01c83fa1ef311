#include "server/output/common_links.h"

#include <cstring>

#include "output_test_util.h"

namespace {

using CommonLinksTest = OutputTest;

TEST_F(CommonLinksTest, WritesEachLinkWithTheLoginQuery) {
    const std::string nbsp = "&nbsp;&nbsp;&nbsp;&nbsp;";
    const std::string setup = "<hr><a href=\"/mail/setup/index.html?q\">Change Settings</a>    "
                              "<a href=\"/mail/book/index.html?q\">Address Book</a>    ";
    const struct {
        void (*write)(Connection&);
        const char* query;
        int closeBrowser;
        uint16_t browser;
        Route route;
        std::string expected;
    } cases[] = {
        {ComposeLinks, "", 0, kBrowserMsie, Route::Mail,
         "<hr><a href=\"/mail/write/index.html\">Write Mail</a>"},
        {ComposeLinks, "", 1, 0, Route::Mail,
         "<hr><a href=\"/mail/write/index.html\">Write Mail</a>    <a "
         "href=\"/mail/logout/index.html\">Finish Reading/Writing</a>"},
        {ComposeLinks, "?q", 0, kBrowserMsie, Route::Mail,
         "<hr><a href=\"/mail/write/index.html?q\">Write Mail</a>" + nbsp +
             "<a href=\"/mail/logout/index.html?q\">Finish Reading/Writing</a>"},
        {ComposeLinks, "?q", 0, kBrowserMozilla4, Route::Mail,
         "<hr><a href=\"/mail/write/index.html?q\">Write Mail</a>" + nbsp +
             "<a href=\"/mail/logout/index.html?q\">Finish Reading/Writing</a>"},
        {SetupLinks, "?q", 0, 0, Route::Sent,
         setup + "<a href=\"/mail/index.html?q\">Go to the list of mail received</a>"},
        {SetupLinks, "?q", 0, 0, Route::Setup,
         setup + "<a href=\"/mail/sent/index.html?q\">Go to the list of mail sent</a>"},
    };
    c->english = 1;
    for (const auto& k : cases) {
        strcpy(c->loginQuery, k.query);
        settings().close_browser = k.closeBrowser;
        c->browser = k.browser;
        c->route = k.route;
        out.clear();
        k.write(*c);
        EXPECT_EQ(out, k.expected);
    }
}

} // namespace
