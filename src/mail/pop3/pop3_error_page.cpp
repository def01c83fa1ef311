// The page for a "-ERR" reply.
#include "base/charset/sjis.h"
#include "base/text/messages.h"
#include "mail/mime/mime_state.h"
#include "mail/pop3/pop3_client.h"
#include "mail/pop3/pop3_state.h"
#include "mail/view/message_view.h"
#include "mail/view/view_options.h"
#include "page/output/common_links.h"
#include "page/output/form_token.h"
#include "page/output/output_text.h"
#include "page/output/page_frame.h"
#include "page/output/send_status.h"
#include <cstdio>
#include <cstring>

namespace {

bool login_or_command_step(int step) {
    switch (step) {
    case AwaitGreeting:
    case AwaitGreetingApop:
    case UserSent:
    case PassSent:
    case StatSent:
    case Deleting:
    case XoauthAskSent:
    case XoauthSent:
    case XoauthRefused:
        return true;
    default:
        return false;
    }
}

// Login, STAT and DELE failures: the list frame (set 0) and the reason.
void command_failure(Connection& c, int step, const char* serverText) {
    int e = c.english;
    SendStatus(c, 200);
    BeginPage(c, kPageHtml | kPageBody | kPagePre);
    if (c.settingsIndex == 0) {
        char title[256];
        snprintf(title, sizeof title, Message(kMsgListTitle, e), c.userName);
        OutputFormat(c, 0, "<center><font size=+1>%s</font>", title);
        ComposeLinks(c);
        OutputFormat(c, 0, "<hr></center><form method=\"post\" action=\"/mail/index.html%s\">",
                     c.loginQuery);
        FormTokenField(c);
        BeginPage(c, kPagePre);
        OutputFormat(c, 0, "%s %s\r\n", Message(kMsgMailAddress, e), c.user->set[0].mail_address);
    }
    if (step == Deleting) {
        OutputFormat(c, 0, "\r\n<font size=+1><center>%s</font>\r\n", Message(kMsgNoMail, e));
    } else {
        char text[512];
        snprintf(text, sizeof text, Message(kMsgLoginFailed, e), "POP3");
        OutputFormat(c, 0, "\r\n<font size=+1><center>%s</font>\r\n", text);
    }
    OutputFormat(c, 0, "</font><br>%s<br>", Message(kMsgErrorMessage, e));
    OutputText(c, serverText, kOutText);
    OutputText(c, "</center>\r\n", 0);
    if (c.state == PageState::MessageWait) {
        BeginPage(c, kPageCenter);
        ListLink(c);
        ComposeLinks(c);
        SetupLinks(c);
        EndPage(c, kPageCenter);
    }
}

// LIST, TOP, RETR and QUIT failures.
void reply_failure(Connection& c, int step, const char* serverText) {
    int e = c.english;
    BeginPage(c, kPageHtml | kPageBody | kPagePre);
    // A TOP beyond the last message while the parts of divided mail are
    // looked for, or a RETR of a later part.
    bool divided = step == Retrieving && c.mime.dividedPhase >= 2;
    if (divided) {
        OutputFormat(c, 0, "<center><b>%s</b><br>", Message(kMsgDividedNotFound, e));
        OutputText(c, "</font><hr>", 0);
        message_links(c);
        OutputText(c, "</center>", 0);
        if (view_options(c).showHeaders) {
            char block[kHeaderBlockSize + 1];
            size_t n = strnlen(c.mime.headerBlock, kHeaderBlockSize);
            memcpy(block, c.mime.headerBlock, n);
            block[n] = '\0';
            OutputText(c, block, kOutText);
        }
        finish_part_file(c);
        return;
    }
    int message = step == Retrieving ? kMsgMailNotFound : kMsgError;
    OutputFormat(c, 0, "<center><font size=+1>%s<br>", Message(message, e));
    OutputFormat(c, 0, "</font><br>%s<br>", Message(kMsgErrorMessage, e));
    OutputText(c, serverText, kOutText);
    OutputText(c, "\r\n", 0);
    BeginPage(c, kPageCenter);
    if (step == Retrieving) ListLink(c);
    ComposeLinks(c);
    SetupLinks(c);
    EndPage(c, kPageCenter);
}

} // namespace

void pop3_error_page(Connection& c) {
    // The server's text follows "-ERR ".
    const char* serverText = strlen(c.line) > 5 ? c.line + 5 : "";
    int step = c.workerResult;
    int set = c.settingsIndex;
    if (login_or_command_step(step)) {
        if (c.parent) {
            // The exchange of a further set on a merged list writes no page:
            // its section shows the outcome.
            UserRuntime& rt = c.user->runtime;
            rt.pop3Status[set] = step == Deleting ? kPop3MailNotFound : kPop3LoginFailed;
            sjis_copy(rt.pop3ErrorText[set], serverText);
        } else {
            command_failure(c, step, serverText);
        }
    } else {
        reply_failure(c, step, serverText);
    }
    pop3_send(c, "QUIT");
    c.workerResult = Quitting;
}
