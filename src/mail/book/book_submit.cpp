#include "base/text/messages.h"
#include "mail/book/address_book.h"
#include "mail/book/book_internal.h"
#include "mail/book/book_state.h"
#include "page/output/output_text.h"
#include "page/output/page_frame.h"
#include "page/output/send_status.h"
#include <cstdio>
#include <cstring>

using namespace book;

namespace {

// The book text of the post. The request reader cuts a long message line
// into 4095-byte pieces and the form reader ends every line with CR LF; the
// book text itself never holds a line break, so dropping them all restores
// what the page sent.
std::string PostedBook(const Connection& c) {
    std::string book;
    book.reserve(static_cast<size_t>(c.messageLength));
    for (const char* p = c.messageText; *p; p++)
        if (*p != '\r' && *p != '\n') book += *p;
    return book;
}

} // namespace

void SubmitBook(Connection& c) {
    const int e = c.english;
    SendStatus(c, 200);
    char title[256];
    if (c.book.error[0]) {
        PageHead(c, Message(kMsgInputError, e));
        BeginPage(c, kPageBody);
        OutputFormat(c, 0, "<center><font size=+1>%s</font><br><br>", Message(kMsgInputError, e));
        OutputEscaped(c, c.book.error);
        OutputText(c, "<hr></center>", 0);
    } else {
        std::string book = PostedBook(c);
        // A book emptied down to the placeholder posts no entry at all.
        if (book.find('<') == std::string::npos) book.clear();
        StoreBook(c, book);
        snprintf(title, sizeof title, Message(kMsgTitle, e), c.userName);
        PageHead(c, title);
    }
    WriteBookPage(c);
}
