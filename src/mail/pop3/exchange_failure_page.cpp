#include "mail/pop3/exchange_failure_page.h"
#include "base/date/local_seconds.h"
#include "base/text/markup_escape.h"
#include "base/text/messages.h"
#include "mail/net/mail_link.h"
#include "mail/pop3/pop3_state.h"
#include "page/output/common_links.h"
#include "page/output/form_token.h"
#include "page/output/output_text.h"
#include "page/output/page_frame.h"
#include "page/output/send_status.h"
#include "store/data_file.h"
#include <cstdio>
#include <sys/socket.h>

namespace {

void ListHead(Connection& c) {
    char title[512];
    snprintf(title, sizeof title, Message(kMsgListTitle, c.english), c.userName);
    OutputFormat(c, 0, "<center><font size=+1>%s</font>", title);
    ComposeLinks(c);
    if (c.browser & kBrowserMozilla2)
        OutputFormat(c, 0,
                     "<hr><form method=\"post\" enctype=\"multipart/form-data\" "
                     "action=\"/mail/index.html%s\">",
                     c.loginQuery);
    else
        OutputFormat(c, 0, "<hr><form method=\"post\" action=\"/mail/index.html%s\">",
                     c.loginQuery);
    FormTokenField(c);
    BeginPage(c, kPagePre);
    int set = c.settingsIndex >= 0 && c.settingsIndex < kSettingsSets ? c.settingsIndex : 0;
    const char* address = c.user ? c.user->set[set].mail_address : "";
    OutputFormat(c, 0, "</center><font size=-1>%s %s</font>\r\n",
                 Message(kMsgMailAddress, c.english), address);
}

// The error text of the exchange in its frame, into text.
void ErrorText(Connection& c, int result, const char* kind, char* text, size_t cap) {
    char message[1024];
    int e = c.english;
    if (result == kWorkerTlsFailed) {
        // The reasons follow the order of the failures, from kMsgTlsExpired on.
        const int failure =
            c.mail.tlsFailure >= 1 && c.mail.tlsFailure <= 6 ? c.mail.tlsFailure : 5;
        const std::string name = MarkupEscape(c.mail.serverName);
        snprintf(message, sizeof message, Message(kMsgTlsFailed, e), kind, name.c_str(),
                 Message(kMsgTlsFailed + failure, e));
        snprintf(text, cap, "\r\n<font size=+1><center>%s\r\n</center></font>\r\n", message);
    } else if (result == 0 || result > 19) {
        if (result == kWorkerNoServer && data_store().settings.per_user_servers) {
            int set = c.settingsIndex + 1;
            // The languages order the arguments differently.
            if (e)
                snprintf(message, sizeof message, Message(kMsgNoServerInSet, e), kind, kind, set);
            else
                snprintf(message, sizeof message, Message(kMsgNoServerInSet, e), kind, set, kind);
            snprintf(text, cap, "\r\n<font size=+1><center>%s\r\n\r\n</center></font>", message);
        } else if (result == kWorkerNoServer) {
            snprintf(message, sizeof message, Message(kMsgNoServerBasic, e), kind, kind);
            snprintf(text, cap, "\r\n<font size=+1><center>%s</center></font>\r\n", message);
        } else {
            snprintf(message, sizeof message, Message(kMsgNoConnect, e), kind, kind);
            snprintf(text, cap, "\r\n<font size=+1><center>%s\r\n</center></font>\r\n", message);
        }
    } else {
        snprintf(message, sizeof message, Message(kMsgServerError, e), kind);
        snprintf(text, cap, "\r\n<font size=+1><center>%s</center></font>\r\n", message);
    }
}

} // namespace

void ExchangeFailurePage(Connection& c) {
    PageState state = c.state;
    int result = c.workerResult;
    bool send = state == PageState::SendWait;
    const char* kind = send ? "SMTP" : "POP3";
    // The extra context of a merged list has no browser: its outcome is shown
    // by the first set's page.
    bool extra = c.settingsIndex > 0 && state == PageState::ListWait;
    bool merged = data_store().settings.multiple_addresses != 0;
    bool neverStarted = result == 0 || result >= kWorkerConnectFailed;
    // The workers write the status line late (SMTP at the greeting, POP3 at
    // the list or the message): a server that stalls or closes before that
    // leaves the answer unopened.
    bool unopened = !c.statusSent;

    if (unopened && !extra) {
        SendStatus(c, 200);
        BeginPage(c, kPageHtml | kPageBody | kPagePre);
        if (c.settingsIndex == 0 && !send) ListHead(c);
    }
    // A POP3 exchange that had begun and stalled is kept as its set's status,
    // which the section of a merged list shows.
    if (!neverStarted && !send && c.user && c.settingsIndex >= 0 && c.settingsIndex < kSettingsSets)
        c.user->runtime.pop3Status[c.settingsIndex] = kPop3ExchangeError;
    if (!extra) {
        char text[2048];
        ErrorText(c, result, kind, text, sizeof text);
        OutputText(c, text, 0);
        if (send) {
            BeginPage(c, kPageHr);
            BeginPage(c, kPageCenter);
            ListLink(c);
            EndPage(c, kPageCenter);
        }
        if (!(state == PageState::ListWait && merged)) {
            BeginPage(c, kPageCenter);
            ComposeLinks(c);
            SetupLinks(c);
            EndPage(c, kPageHtml | kPageBody | kPageCenter | kPagePre);
        }
    }
    PageState next = merged && c.settingsIndex == 0 && state == PageState::ListWait
                         ? PageState::ExtraList2
                         : PageState::Done;
    // The state moves before the socket goes, so a worker woken by the
    // shutdown already sees that the page is no longer its own. A worker that
    // finished in the meantime has moved the state on itself.
    c.state.compare_exchange_strong(state, next);
    // Shut down rather than closed: the worker may still be polling it, and a
    // closed descriptor number could be reused under it. The worker ends at its
    // next poll; the socket is closed when the context is freed.
    if (c.mail.socket >= 0) shutdown(c.mail.socket, SHUT_RDWR);
}
