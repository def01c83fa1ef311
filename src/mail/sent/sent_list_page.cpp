#include "base/charset/header_text.h"
#include "base/charset/sjis.h"
#include "base/date/local_seconds.h"
#include "base/text/messages.h"
#include "mail/compose/outgoing.h"
#include "mail/list/received_list.h"
#include "mail/sent/sent_files.h"
#include "mail/sent/sent_line_reader.h"
#include "mail/sent/sent_log.h"
#include "mail/sent/sent_pages.h"
#include "page/output/common_links.h"
#include "page/output/form_token.h"
#include "page/output/output_text.h"
#include "page/output/page_frame.h"
#include "page/output/send_status.h"
#include "store/login_sessions.h"
#include <climits>
#include <cstdio>
#include <cstring>

namespace {

constexpr int kValueSize = 300;

// What the list shows of one entry.
struct ListEntry {
    char subject[kValueSize];
    char date[kValueSize];
    char to[kValueSize];
    int files;
    long long size; // bytes of its lines, two per line end
};

bool take(const char* line, const char* name, char (&value)[kValueSize]) {
    const size_t n = strlen(name);
    if (strncmp(line, name, n) != 0) return false;
    sjis_copy(value, line + n);
    return true;
}

void header_line(ListEntry& e, const char* line) {
    if (strncmp(line, "Subject: ", 9) == 0) {
        copy_header_text(e.subject, line + 9);
        return;
    }
    if (take(line, "Date: ", e.date) || take(line, "To: ", e.to)) return;
    if (strncmp(line, "X-Files: ", 9) == 0) e.files++;
}

void write_row(Connection& c, int number, const ListEntry& e) {
    // The subject goes inside the row's markup, which the filter passes as
    // it is: markup characters in it must not become markup.
    char subject[kSafeSubjectSize];
    safe_subject(subject, e.subject);
    OutputFormat(c, 0,
                 "<font size=+1><input type=checkbox name=\"delete_%d\"><a "
                 "href=\"/mail/sent/%04d.html%s\">%04d. %s</a></font>\r\n",
                 number, number, c.loginQuery, number, subject);
    const int size = e.size > INT_MAX ? INT_MAX : static_cast<int>(e.size);
    OutputFormat(c, 0, "  %s  %s  (%6d)  ",
                 e.files ? Message(kMsgAttachedMark, c.english) : "      ", e.date, size);
    OutputText(c, e.to, kOutText);
    OutputText(c, "\r\n\r\n", 0);
}

} // namespace

void ShowSentList(Connection& c) {
    const int e = c.english;
    SendStatus(c, 200);
    char title[512];
    snprintf(title, sizeof title, Message(kMsgSentTitle, e), c.userName);
    PageHead(c, title);
    BeginPage(c, kPageBody);
    OutputFormat(c, 0, "<center><font size=+1>%s</font>", title);
    ComposeLinks(c);

    SentLogPaths paths;
    SentLineReader r;
    if (!sent_log_paths(c, paths) ||
        !sent_reader_open(r, paths.log, c.messageText, sizeof c.messageText)) {
        OutputFormat(c, 0, "<hr><center>\r\n<font size=+1>%s\r\n</font>\r\n",
                     Message(kMsgNoSentMail, e));
    } else {
        SentReaderCloser closeReader{r};
        OutputFormat(c, 0,
                     "<hr></center><form method=\"post\" action=\"/mail/sent/index.html%s\"><pre>",
                     c.loginQuery);
        FormTokenField(c);
        ListEntry entry{};
        bool header = true;
        int number = 1;
        while (sent_reader_next(r)) {
            entry.size += static_cast<long long>(r.length) + 2;
            if (header) {
                if (r.length == 0)
                    header = false;
                else
                    header_line(entry, r.line);
            } else if (strcmp(r.line, ".") == 0) {
                write_row(c, number++, entry);
                entry = ListEntry{};
                header = true;
            }
        }
        const auto now = static_cast<int32_t>(local_seconds());
        if (c.user) c.user->runtime.listTime = now;
        session_touch(c.userName, c.session.check, now);
        OutputFormat(c, 0, "<input type=\"hidden\" value=\"%ld\" name=\"list_time\">",
                     static_cast<long>(now));
        OutputFormat(c, 0,
                     "<input type=\"submit\" value=\"%s\">  <input type=\"reset\" "
                     "value=\"%s\"></pre></form>",
                     Message(kMsgDeleteMarked, e), Message(kMsgResetMarks, e));
        OutputText(c, "<center>", 0);
    }
    OutputText(c, "<pre>", 0);
    ComposeLinks(c);
    SetupLinks(c);
    EndPage(c, kPagePre | kPageCenter | kPageBody | kPageHtml);
}

void SentDelete(Connection& c) {
    if (c.itemNumber < 0) {
        c.itemNumber = c.itemNumber == INT32_MIN ? 0 : -c.itemNumber;
        c.send.sentToken[sizeof c.send.sentToken - 1] = '\0';
        sjis_copy(c.send.dateLine, c.send.sentToken);
        DeleteSentEntries(c, true);
    } else {
        DeleteSentEntries(c, false);
    }
    ShowSentList(c);
}
