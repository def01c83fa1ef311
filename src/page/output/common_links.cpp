#include "page/output/common_links.h"

#include "base/text/messages.h"
#include "page/output/output_text.h"
#include "store/data_file.h"

// Browsers that keep runs of blanks get them as &nbsp;.
static const char* Separator(const Connection& c) {
    return (c.browser & (kBrowserMsie | kBrowserMozilla4)) ? "&nbsp;&nbsp;&nbsp;&nbsp;" : "    ";
}

void ListLink(Connection& c) {
    OutputFormat(c, 0, "<a href=\"/mail/index.html%s\">%s</a>", c.loginQuery,
                 Message(kMsgBackToList, c.english));
}

void TopLink(Connection& c) {
    OutputFormat(c, 0, "<center><hr><a href=\"/\">%s</a></center>",
                 Message(kMsgTopPage, c.english));
}

void ComposeLinks(Connection& c) {
    if (!c.loginQuery[0] && !data_store().settings.close_browser) {
        OutputFormat(c, 0, "<hr><a href=\"/mail/write/index.html\">%s</a>",
                     Message(kMsgWriteMail, c.english));
        return;
    }
    OutputFormat(c, 0,
                 "<hr><a href=\"/mail/write/index.html%s\">%s</a>%s"
                 "<a href=\"/mail/logout/index.html%s\">%s</a>",
                 c.loginQuery, Message(kMsgWriteMail, c.english), Separator(c), c.loginQuery,
                 Message(kMsgFinish, c.english));
}

void SetupLinks(Connection& c) {
    // The sent-mail pages point back to the received list instead of to themselves.
    const bool sentPage = c.route == Route::Sent;
    const char* sep = Separator(c);
    OutputFormat(c, 0,
                 "<hr><a href=\"/mail/setup/index.html%s\">%s</a>%s"
                 "<a href=\"/mail/book/index.html%s\">%s</a>%s"
                 "<a href=\"/mail/%sindex.html%s\">%s</a>",
                 c.loginQuery, Message(kMsgChangeSettings, c.english), sep, c.loginQuery,
                 Message(kMsgAddressBook, c.english), sep, sentPage ? "" : "sent/", c.loginQuery,
                 Message(sentPage ? kMsgReceivedList : kMsgSentList, c.english));
}
