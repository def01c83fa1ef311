// What the SMTP exchange writes to the browser: the page of a message the
// server took, and the block of a reply that refused it.
#include "base/text/messages.h"
#include "mail/compose/outgoing.h"
#include "mail/smtp/smtp_client.h"
#include "page/output/common_links.h"
#include "page/output/output_text.h"
#include "page/output/page_frame.h"

#include <cstring>

void smtp_success_page(Connection& c) {
    const int e = c.english;
    const OutgoingMail& m = c.send;
    PageHead(c, Message(kMsgSent, e));
    BeginPage(c, kPageBody);
    OutputFormat(c, 0, "<pre><font size=+1><center>%s</font></center><hr>", Message(kMsgSent, e));
    OutputText(c, Message(kMsgFrom, e), 0);
    OutputText(c, m.fromLine + 4, kOutText | kOutLinks);
    OutputText(c, Message(kMsgTo, e), 0);
    OutputText(c, m.toLine + 2, kOutText | kOutLinks);
    if (m.sendCc[0]) OutputText(c, m.ccLine, kOutText | kOutLinks);
    if (m.sendBcc[0]) OutputText(c, m.bccLine, kOutText | kOutLinks);
    OutputText(c, Message(kMsgSubject, e), 0);
    OutputText(c, m.subjectLine + 7, kOutText);
    OutputText(c, "<hr>", 0);
    // The sender's own text, escaped all the same: markup in it must not
    // become part of the page.
    OutputText(c, c.messageText, kOutText);
    if (c.uploadCount > 0) {
        OutputText(c, "<hr>", 0);
        for (int n = 0; n < c.uploadCount && n < kMaxUploads; n++) {
            OutputFormat(c, 0, "%s: ", Message(kMsgAttachedFileName, e));
            OutputText(c, c.uploadNames[n], kOutText);
            OutputText(c, "\r\n", 0);
        }
    }
    OutputFormat(c, 0,
                 "<hr><center><a href=\"/mail/index.html%s\">%s</a>    "
                 "<a href=\"/mail/sent/index.html%s\">%s</a></center>",
                 c.loginQuery, Message(kMsgReceivedList, e), c.loginQuery,
                 Message(kMsgSentList, e));
}

void smtp_error_block(Connection& c, const char* reply) {
    const int e = c.english;
    OutputFormat(c, 0, "<center><font size=+1>%s<br>", Message(kMsgSendError, e));
    OutputFormat(c, 0, "</font><br>%s<br>", Message(kMsgErrorMessage, e));
    OutputText(c, reply, kOutText);
    BeginPage(c, kPageCenter);
    ListLink(c);
    ComposeLinks(c);
    SetupLinks(c);
    EndPage(c, kPageCenter);
}
