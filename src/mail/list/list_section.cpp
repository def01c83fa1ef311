#include "base/text/messages.h"
#include "mail/list/list_state.h"
#include "mail/list/received_list.h"
#include "mail/net/mail_connect.h"
#include "page/output/output_text.h"
#include "store/data_file.h"
#include <cstdio>

namespace {

// The server's -ERR text comes from the network: escaped like any mail text.
void error_text(Connection& c, int set) {
    OutputText(c, c.user->runtime.pop3ErrorText[set], kOutText);
}

void section_rows(Connection& c, int set) {
    KeptEntry* e = c.user->runtime.keptList[set];
    if (!e) {
        OutputFormat(c, 0, "\r\n<center><font size=+1>%s\r\n</font>\r\n</center>",
                     Message(kMsgNoMail, c.english));
        return;
    }
    c.list.rowNumber = 1;
    for (; e && kept_has_headers(*e); e = e->next) {
        prefetch_row(e->next);
        c.list.current = e;
        list_row(c);
        c.list.rowNumber++;
    }
    c.list.current = nullptr;
}

// A set whose exchange never reached its server (status still 0): the name
// was not found in the basic settings' server, or no socket could be made.
void never_connected(Connection& c) {
    char message[512];
    if (!data_store().settings.per_user_servers) {
        snprintf(message, sizeof message, Message(kMsgNoServerBasic, c.english), "POP3", "POP3");
        OutputFormat(c, 0, "\r\n<font size=+1><center>%s</center></font>\r\n", message);
    } else {
        snprintf(message, sizeof message, Message(kMsgNoConnect, c.english), "POP3", "POP3");
        OutputFormat(c, 0, "\r\n<font size=+1><center>%s\r\n</center></font>\r\n", message);
    }
}

} // namespace

bool delete_token_matches(Connection& c, int number, const char* token) {
    c.itemNumber = number;
    return find_kept(c, token);
}

void list_section(Connection& c, int set) {
    if (!c.user || set < 1 || set >= kSettingsSets) return;
    const SettingsSet& s = c.user->set[set];
    if (!s.id[0]) return;
    c.settingsIndex = static_cast<int16_t>(set);
    OutputFormat(c, 0, "<hr>%s %s\r\n", Message(kMsgMailAddress, c.english), s.mail_address);
    const int status = c.user->runtime.pop3Status[set];
    const int e = c.english;
    char message[512];
    switch (status) {
    case kPop3Connected:
        section_rows(c, set);
        return;
    case kPop3None:
        never_connected(c);
        return;
    case kPop3ExchangeError:
        snprintf(message, sizeof message, Message(kMsgConnectError, e), "POP3");
        OutputFormat(c, 0, "\r\n<font size=+1><center>%s\r\n\r\n</center></font>", message);
        return;
    case kPop3ServerNotFound:
        // The languages order the arguments differently.
        if (e)
            snprintf(message, sizeof message, Message(kMsgNoServerInSet, e), "POP3", "POP3",
                     set + 1);
        else
            snprintf(message, sizeof message, Message(kMsgNoServerInSet, e), "POP3", set + 1,
                     "POP3");
        OutputFormat(c, 0, "\r\n<font size=+1><center>%s\r\n\r\n</center></font>", message);
        return;
    case kPop3ConnectFailed:
        snprintf(message, sizeof message, Message(kMsgNoConnect, e), "POP3", "POP3");
        OutputFormat(c, 0, "\r\n<font size=+1><center>%s</center></font>\r\n", message);
        return;
    case kPop3LoginFailed:
        snprintf(message, sizeof message, Message(kMsgLoginFailed, e), "POP3");
        OutputFormat(c, 0, "\r\n<font size=+1><center>%s\r\n</font>%s\r\n", message,
                     Message(kMsgErrorMessage, e));
        error_text(c, set);
        OutputText(c, "</center>\r\n", 0);
        return;
    case kPop3MailNotFound:
        OutputFormat(c, 0, "\r\n<font size=+1><center>\r\n%s</font>%s\r\n",
                     Message(kMsgMailNotFound, e), Message(kMsgErrorMessage, e));
        error_text(c, set);
        OutputText(c, "</center>\r\n", 0);
        return;
    default:
        OutputFormat(c, 0, "</font><br>Error %d<br>", status);
        error_text(c, set);
        OutputText(c, "</center>\r\n", 0);
        return;
    }
}
