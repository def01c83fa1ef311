#include "base/charset/header_text.h"
#include "base/charset/sjis.h"
#include "base/text/messages.h"
#include "base/text/url_encode.h"
#include "mail/compose/compose_form.h"
#include "mail/compose/outgoing.h"
#include "mail/list/received_list.h"
#include "mail/sent/sent_files.h"
#include "mail/sent/sent_line_reader.h"
#include "mail/sent/sent_pages.h"
#include "mail/view/view_options.h"
#include "page/output/output_text.h"
#include "page/output/page_frame.h"
#include "page/output/send_status.h"
#include <cstdio>
#include <cstring>

namespace {

// The block buffer of the reader: an entry is read line by line.
constexpr size_t kEntryBlockSize = 4096;

template <size_t N> bool take(const char* line, const char* name, char (&value)[N]) {
    const size_t n = strlen(name);
    if (strncmp(line, name, n) != 0) return false;
    sjis_copy(value, line + n);
    return true;
}

void clear_entry(Connection& c) {
    OutgoingMail& m = c.send;
    m.sendTo[0] = m.sendCc[0] = m.sendBcc[0] = m.sendSubject[0] = '\0';
    m.subjectLine[0] = m.dateLine[0] = m.fromLine[0] = m.toLine[0] = '\0';
    m.ccLine[0] = m.bccLine[0] = '\0';
    c.messageText[0] = '\0';
    c.uploadCount = 0;
}

void header_line(Connection& c, const char* line) {
    OutgoingMail& m = c.send;
    if (strncmp(line, "Subject: ", 9) == 0) {
        copy_header_text(m.subjectLine, line + 9, kFieldSize);
        sjis_copy(m.sendSubject, m.subjectLine);
        return;
    }
    if (take(line, "Date: ", m.dateLine) || take(line, "From: ", m.fromLine)) return;
    if (take(line, "To: ", m.toLine)) {
        sjis_copy(m.sendTo, m.toLine);
    } else if (take(line, "Cc: ", m.ccLine)) {
        sjis_copy(m.sendCc, m.ccLine);
    } else if (take(line, "Bcc: ", m.bccLine)) {
        sjis_copy(m.sendBcc, m.bccLine);
    } else if (strncmp(line, "X-Files: ", 9) == 0 && c.uploadCount < kMaxUploads) {
        sjis_copy(c.uploadNames[c.uploadCount++], line + 9);
    }
}

// Text that would not fit is left out rather than cut mid-line.
void text_line(Connection& c, size_t& used, const char* line, size_t length) {
    if (strcmp(line, "..") == 0) length = 1;
    if (used + length + 1 >= sizeof c.messageText) return;
    memcpy(c.messageText + used, line, length);
    used += length;
    c.messageText[used++] = '\n';
    c.messageText[used] = '\0';
}

// Reads entry c.itemNumber into c; false when the log cannot be read.
bool read_entry(Connection& c) {
    SentLogPaths paths;
    if (!sent_log_paths(c, paths)) return false;
    char block[kEntryBlockSize];
    SentLineReader r;
    if (!sent_reader_open(r, paths.log, block, sizeof block)) return false;
    SentReaderCloser closeReader{r};
    clear_entry(c);
    size_t used = 0;
    bool header = true;
    for (int n = 1; n <= c.itemNumber && sent_reader_next(r);) {
        if (header) {
            if (r.length == 0)
                header = false;
            else if (n == c.itemNumber)
                header_line(c, r.line);
        } else if (strcmp(r.line, ".") == 0) {
            header = true;
            n++;
        } else if (n == c.itemNumber) {
            text_line(c, used, r.line, r.length);
        }
    }
    while (used > 0 && (c.messageText[used - 1] == '\n' || c.messageText[used - 1] == '\r'))
        c.messageText[--used] = '\0';
    return true;
}

void write_heading(Connection& c) {
    const OutgoingMail& m = c.send;
    const int e = c.english;
    char subject[kSafeSubjectSize];
    safe_subject(subject, m.subjectLine);
    char title[kSafeSubjectSize + 32];
    snprintf(title, sizeof title, "%d. %s\r\n\r\n", c.itemNumber, subject);
    PageHead(c, title);
    BeginPage(c, kPageBody | kPagePre | kPageCenter);
    SentLinkRow(c);
    OutputText(c, "</center><font size=+1>", 0);
    OutputFormat(c, kOutText, "%s: %s\r\n", Message(kMsgSubject, e), m.subjectLine);
    OutputText(c, "</font>", 0);
    OutputFormat(c, kOutText, "%s: %s\r\n", Message(kMsgDate, e), m.dateLine);
    OutputFormat(c, kOutText, "%s: %s\r\n", Message(kMsgFrom, e), m.fromLine);
    OutputFormat(c, kOutText, "%s: %s", Message(kMsgTo, e), m.toLine);
    if (m.ccLine[0]) OutputFormat(c, kOutText, "\r\nCc: %s", m.ccLine);
    if (m.bccLine[0]) OutputFormat(c, kOutText, "\r\nBcc: %s", m.bccLine);
}

} // namespace

void ShowSentMessage(Connection& c) {
    if (!read_entry(c)) return;
    SendStatus(c, 200);
    write_heading(c);
    OutputText(c, "<hr>", 0);
    OutputText(c, c.messageText, kOutText | kOutLinks);
    OutputText(c, "<hr>", 0);
    if (c.uploadCount > 0) {
        for (int i = 0; i < c.uploadCount; i++)
            OutputFormat(c, kOutText, "%s: %s\r\n", Message(kMsgAttachedFileName, c.english),
                         c.uploadNames[i]);
        OutputText(c, "<hr>", 0);
    }
    WriteForm(c, FormVariant::Resend);
    BeginPage(c, kPagePre | kPageCenter | kPageHr);
    SentLinkRow(c);
    EndPage(c, kPagePre | kPageCenter | kPageBody | kPageHtml);
}

void SentLinkRow(Connection& c) {
    const int e = c.english;
    if (!view_options(c).deleteLink) {
        OutputFormat(c, 0, "<a href=\"/mail/sent/index.html%s\">%s</a><hr>", c.loginQuery,
                     Message(kMsgSentList, e));
        return;
    }
    char date[sizeof c.send.dateLine * 3];
    UrlEncode(date, c.send.dateLine);
    OutputFormat(c, 0,
                 "<a href=\"/mail/sent/index.html%s\">%s</a>      "
                 "<a href=\"/mail/sent/index.html?delete=%d.%s%s\">%s</a><hr>",
                 c.loginQuery, Message(kMsgSentList, e), c.itemNumber, date, c.loginQuery,
                 Message(kMsgBackAfterDelete, e));
}
