// The header phase of a message: its heading on the page (or in the text
// download), the fields a reply needs, and the search for the further parts
// of divided mail.
#include "base/charset/detect.h"
#include "base/charset/sjis.h"
#include "base/date/mail_date.h"
#include "base/global_lock.h"
#include "base/text/address.h"
#include "base/text/blanks.h"
#include "base/text/messages.h"
#include "base/text/text_search.h"
#include "base/text/url_encode.h"
#include "mail/list/received_list.h"
#include "mail/mime/mime_parser.h"
#include "mail/mime/mime_state.h"
#include "mail/view/message_view.h"
#include "mail/view/view_internal.h"
#include "mail/view/view_options.h"
#include "mail/view/view_state.h"
#include "page/output/output_text.h"
#include "page/output/page_frame.h"
#include "page/output/send_status.h"

#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

namespace {

bool IsBlank(char ch) {
    return ch == ' ' || ch == '\t';
}

bool StartsNoCase(const char* s, const char* prefix) {
    return PrefixEqualNoCase(s, prefix, static_cast<int>(strlen(prefix))) == 0;
}

// The parameters of a "message/partial" content type, or null.
const char* PartialParameters(const char* value) {
    while (IsBlank(*value)) value++;
    return StartsNoCase(value, "message/partial") ? value + 15 : nullptr;
}

// A TOP reply seen while looking for the next part: only its content type
// matters. The full header parse would replace the fields of the message on
// the page and could open files for a message that is not being shown.
void MatchPartial(Connection& c) {
    char line[kHeaderBlockSize];
    c.mime.headerBlock[kHeaderBlockSize - 1] = '\0';
    for (const char* p = c.mime.headerBlock; *p;) {
        size_t n = strcspn(p, "\n");
        if (n >= sizeof line) n = sizeof line - 1;
        memcpy(line, p, n);
        line[n] = '\0';
        p += n;
        if (*p == '\n') p++;
        if (!StartsNoCase(line, "Content-Type:")) continue;
        if (const char* parameters = PartialParameters(line + 13))
            partial_parameters(c, parameters);
        return;
    }
}

void ClearHeaderBlock(MimeState& m) {
    m.headerBlock[0] = '\0';
    m.headerBlockLength = 0;
}

// The message after number that the search looks at: every one but the
// message being shown.
int NextSearched(const Connection& c, int number) {
    ++number;
    return number == c.itemNumber ? number + 1 : number;
}

// The end of a TOP reply during the search: ask for the next message, or
// fetch the part that was found.
ViewAsk SearchStep(Connection& c) {
    MimeState& m = c.mime;
    if (c.mime.headerPending) MatchPartial(c);
    c.mime.headerPending = 0;
    ClearHeaderBlock(m);
    if (m.dividedPhase == 4 || m.dividedPhase == 5) {
        // Replies to TOP requests still out come first; the exchange reads
        // past them.
        m.dividedPhase = m.dividedPhase == 4 ? 2 : 6;
        return ViewAsk::Retr;
    }
    m.searchCursor = NextSearched(c, m.searchCursor);
    return ViewAsk::Top;
}

// What a reply to the message needs later: its Message-Id, and References
// that still leave room for it.
void KeepReplyFields(Connection& c) {
    if (!c.user) return;
    const MimeState& m = c.mime;
    const char* references = m.references[0] ? m.references : m.inReplyTo;
    const size_t idLength = strnlen(m.messageId, kHeaderFieldSize);
    const char* p = references;
    while (*p && strnlen(p, kHeaderFieldSize) + idLength >= kHeaderFieldSize - 1) {
        while (static_cast<unsigned char>(*p) > ' ') p++;
        while (IsBlank(*p)) p++;
    }
    std::string kept(p, strnlen(p, kHeaderFieldSize - 1));
    if (idLength > 0 && kept.size() + (kept.empty() ? 0 : 1) + idLength < kHeaderFieldSize) {
        if (!kept.empty()) kept.push_back(' ');
        kept.append(m.messageId, idLength);
    }
    std::lock_guard<std::recursive_mutex> hold(globalLock);
    UserRuntime& rt = c.user->runtime;
    sjis_copy(rt.lastMessageId, m.messageId);
    sjis_copy(rt.replyReferences, kept.c_str());
}

// The heading of the ".txt" download.
void TextHeading(Connection& c, const char* date) {
    const MimeState& m = c.mime;
    const int e = c.english;
    SendStatus(c, 201);
    const struct {
        int label;
        const char* value;
        const char* end;
    } lines[] = {{kMsgSubject, m.subjectLine, "\r\n"},
                 {kMsgDate, date, "\r\n"},
                 {kMsgFrom, m.fromLine, "\r\n\r\n"}};
    for (const auto& l : lines) {
        char text[kHeaderFieldSize * 2];
        int n = snprintf(text, sizeof text, "%s: %s%s", Message(l.label, e), l.value, l.end);
        if (n < 0) continue;
        if (n >= static_cast<int>(sizeof text)) n = sizeof text - 1;
        convert_to_sjis(text, n, kCodeDetect);
        OutputText(c, text, 0);
    }
}

bool SenderKnown(const Connection& c) {
    char from[kHeaderFieldSize];
    view_display_text(from, c.mime.fromLine);
    char address[kHeaderFieldSize];
    ExtractAddress(address, from);
    if (!address[0]) return true;
    std::lock_guard<std::recursive_mutex> hold(globalLock);
    const std::string& book = c.user->address_book;
    return !book.empty() && book.find(address) != std::string::npos;
}

void AddSenderLink(Connection& c) {
    char from[kHeaderFieldSize];
    const int n = snprintf(from, sizeof from, "%s", c.mime.fromLine);
    convert_to_sjis(from, n < static_cast<int>(sizeof from) ? n : sizeof from - 1, kCodeDetect);
    char encoded[kHeaderFieldSize * 3];
    UrlEncode(encoded, from);
    char blanks[32];
    Blanks(blanks, c.browser, 4);
    OutputFormat(c, 0, "%s<a href=\"/mail/book/index.html?back=%c%04d?add=%s%.*s\">%s</a>", blanks,
                 view_set_letter(c), c.itemNumber, encoded, static_cast<int>(sizeof c.loginQuery),
                 c.loginQuery, Message(kMsgAddSender, c.english));
}

void PageHeading(Connection& c, const char* date) {
    const MimeState& m = c.mime;
    const int e = c.english;
    char subject[kHeaderFieldSize];
    view_display_text(subject, m.subjectLine);
    // The page frame writes the title as it is given.
    char title[kHeaderFieldSize * 6 + 32];
    snprintf(title, sizeof title, "%d. %s\r\n\r\n", c.itemNumber, MarkupEscape(subject).c_str());
    PageHead(c, title);
    BeginPage(c, kPageBody | kPagePre | kPageCenter);
    message_links(c);
    OutputText(c, "</center><font size=+1>", 0);
    OutputFormat(c, kOutText, "%s: %s\r\n", Message(kMsgSubject, e), subject);
    OutputText(c, "</font>", 0);
    OutputFormat(c, kOutText, "%s: %s\r\n", Message(kMsgDate, e), date);
    char from[kHeaderFieldSize];
    view_display_text(from, m.fromLine);
    OutputFormat(c, kOutText | kOutLinks, "%s: %s", Message(kMsgFrom, e), from);
    if (c.user && !SenderKnown(c)) AddSenderLink(c);
    OutputText(c, "<hr>", 0);
    if (view_options(c).folding) OutputText(c, "</pre>", 0);
}

// A message that is one image or attachment as a whole is saved like a part.
void OpenWholeMessagePart(Connection& c) {
    const MimeState& m = c.mime;
    if (c.file >= 0 || PartialParameters(m.contentType)) return;
    if (m.contentClass == kClassImage || m.contentClass == kClassAttachment) open_part_file(c);
}

// The empty line after a message's header (RETR). False when the body
// starts with the header of the message that part 1 encloses.
bool HeaderEnd(Connection& c) {
    MimeState& m = c.mime;
    ViewProgress& v = c.view;
    m.headerPending = 0;
    if (m.dividedPhase == 2 || m.dividedPhase == 6) {
        // The message that part 1 encloses has the header that counts; the
        // header of a further part is only its envelope.
        if (v.enclosedHeader) {
            v.enclosedHeader = 0;
            const int fill = static_cast<int>(strnlen(m.headerBlock, kHeaderBlockSize - 1));
            parse_header_block(c, m.headerBlock + (v.enclosedFrom < fill ? v.enclosedFrom : fill));
            OpenWholeMessagePart(c);
        }
        return true;
    }
    parse_header_block(c, m.headerBlock);
    KeepReplyFields(c);
    const bool page = c.state.load() != PageState::TextWait;
    char date[kMailDateSize];
    format_mail_date(date, m.dateLine);
    if (page) {
        PageHeading(c, date);
    } else {
        TextHeading(c, date);
    }
    if (m.dividedPhase == 1) {
        m.dividedPhase = 2;
        v.enclosedHeader = 1;
        v.enclosedFrom = static_cast<int>(strnlen(m.headerBlock, kHeaderBlockSize - 1));
        return false;
    }
    OpenWholeMessagePart(c);
    if (page && m.dividedPhase == 0 && m.partNumber >= 2 && PartialParameters(m.contentType)) {
        OutputText(c, "<center>\r\n", 0);
        OutputFormat(c, 0, Message(kMsgReadFirstPart, c.english), m.partTotal);
        OutputText(c, "\r\n\r\n</center>", 0);
    }
    return true;
}

} // namespace

ViewAsk view_search_next_part(Connection& c) {
    MimeState& m = c.mime;
    m.partNumber++;
    m.searchCursor = c.itemNumber == 1 ? 2 : 1;
    m.dividedPhase = 3;
    ClearHeaderBlock(m);
    c.mime.headerPending = 0;
    // Worth asking whether the server pipelines: the search may read many
    // headers. Its answer starts the search.
    return ViewAsk::Capabilities;
}

int view_take_search_cursor(Connection& c) {
    c.mime.searchSent = c.mime.searchCursor;
    return c.mime.searchCursor;
}

int view_take_next_searched(Connection& c, int statCount) {
    MimeState& m = c.mime;
    if (m.searchSent > statCount) return 0;
    m.searchSent = NextSearched(c, m.searchSent);
    return m.searchSent;
}

ViewAsk view_header_line(Connection& c, const char* line) {
    if (!line) return ViewAsk::Nothing;
    MimeState& m = c.mime;
    if (line[0] == '.' && line[1] == '\0') {
        if (m.dividedPhase == 3) return SearchStep(c);
        // A message that ends without a body.
        HeaderEnd(c);
        return view_body_line(c, ".");
    }
    if (line[0] == '\0')
        return m.dividedPhase != 3 && HeaderEnd(c) ? ViewAsk::Body : ViewAsk::Nothing;
    // POP3 doubles a leading dot in header lines too.
    collect_header_line(c, line[0] == '.' ? line + 1 : line);
    m.headerPending = 1;
    return ViewAsk::Nothing;
}
