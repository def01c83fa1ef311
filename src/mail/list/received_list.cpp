#include "mail/list/received_list.h"
#include "base/charset/detect.h"
#include "base/charset/foreign_charset.h"
#include "base/charset/sjis.h"
#include "base/date/local_seconds.h"
#include "base/date/mail_date.h"
#include "base/date/time_zone.h"
#include "base/global_lock.h"
#include "base/text/messages.h"
#include "base/text/text_builder.h"
#include "mail/list/list_state.h"
#include "mail/mime/mime_state.h"
#include "page/output/common_links.h"
#include "page/output/form_token.h"
#include "page/output/output_text.h"
#include "page/output/page_frame.h"
#include "page/output/send_status.h"
#include "store/login_sessions.h"
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

using namespace std::string_view_literals;

namespace {

constexpr unsigned char kEsc = 0x1B;

int set_of(const Connection& c) {
    return c.settingsIndex > 0 && c.settingsIndex < kSettingsSets ? c.settingsIndex : 0;
}

KeptEntry*& kept_head(Connection& c) {
    return c.user->runtime.keptList[set_of(c)];
}

// An entry whose headers this visit fetches: new, changed in size, or left
// without headers by a broken earlier exchange.
bool wants_top(const KeptEntry& e) {
    return e.changed || !kept_has_headers(e);
}

bool several_tops(const KeptEntry* first) {
    for (const KeptEntry* e = first ? first->next : nullptr; e; e = e->next)
        if (wants_top(*e)) return true;
    return false;
}

// Reads a non-negative decimal number after blanks; false when there is none
// or it does not fit in 31 bits.
bool read_number(const char*& s, int& out) {
    while (*s == ' ' || *s == '\t') s++;
    if (*s < '0' || *s > '9') return false;
    long long v = 0;
    for (; *s >= '0' && *s <= '9'; s++) {
        v = v * 10 + (*s - '0');
        if (v > 0x7FFFFFFF) return false;
    }
    out = static_cast<int>(v);
    return true;
}

KeptEntry* find_number(Connection& c, int number) {
    KeptEntry* head = kept_head(c);
    KeptEntry* start = c.list.lookup ? c.list.lookup : head;
    for (KeptEntry* e = start; e; e = e->next)
        if (e->number == number) return c.list.lookup = e;
    for (KeptEntry* e = head; e && e != start; e = e->next)
        if (e->number == number) return c.list.lookup = e;
    return nullptr;
}

// The fields of a TOP reply belong to one message; a header the next message
// lacks must not be taken from this one.
void clear_collected(Connection& c) {
    MimeState& m = c.mime;
    m.subjectLine[0] = m.dateLine[0] = m.fromLine[0] = m.toLine[0] = m.ccLine[0] = '\0';
    m.replyTo[0] = m.messageId[0] = m.references[0] = m.inReplyTo[0] = '\0';
    m.contentType[0] = '\0';
    m.contentClass = kClassText;
    m.headerBlock[0] = '\0';
    m.headerBlockLength = 0;
}

// The closing "." of the LIST reply.
ListAsk list_end(Connection& c) {
    const int set = set_of(c);
    if (set == 0) SendStatus(c, 200);
    if (c.list.newEntries == 0) {
        list_heading(c);
        if (set == 0)
            OutputFormat(c, 0, "<center>\r\n<font size=+1>%s\r\n</font>\r\n</center>",
                         Message(kMsgNoMail, c.english));
        return ListAsk::Quit;
    }
    if (c.list.updating) {
        list_kept_rows(c);
    } else {
        list_heading(c);
        c.list.rowNumber = 1;
        c.list.current = kept_head(c);
    }
    if (!c.list.current) return ListAsk::Quit;
    return several_tops(c.list.current) ? ListAsk::Capabilities : list_tops_begin(c);
}

} // namespace

void safe_subject(char (&dst)[kSafeSubjectSize], const char* subject) {
    char text[300];
    int n = sjis_copy(text, subject);
    // Only the ISO-2022-JP escapes are taken out; eight-bit bytes stay as the
    // filter would pass them.
    n = convert_to_sjis(text, n, kCodeSjis);
    char* out = dst;
    for (int i = 0; i < n; i++) {
        const auto b = static_cast<unsigned char>(text[i]);
        // A character reference stands for a character the mail's own
        // charset had and Shift_JIS has not; it can never form markup.
        if (int ncr = b == '&' ? foreign_ncr_length(text + i) : 0; ncr > 0) {
            memcpy(out, text + i, static_cast<size_t>(ncr));
            out += ncr;
            i += ncr - 1;
            continue;
        }
        const char* entity = b == '<'   ? "&lt;"
                             : b == '>' ? "&gt;"
                             : b == '&' ? "&amp;"
                             : b == '"' ? "&quot;"
                                        : nullptr;
        if (entity) {
            size_t k = strlen(entity);
            memcpy(out, entity, k);
            out += k;
        } else if (b != kEsc && b != 0) { // a broken two-byte run can convert to NUL
            *out++ = static_cast<char>(b);
        }
    }
    *out = '\0';
}

ListAsk list_after_stat(Connection& c, int stat) {
    c.list = ListProgress{};
    if (!c.user) return ListAsk::Quit;
    const int set = set_of(c);
    int kept = count_kept(c.user, set);
    // Mail was removed elsewhere: the numbers no longer match the list.
    if (kept > stat) {
        free_kept_list(c.user, set);
        kept = 0;
    }
    if (kept == 0) return stat == 0 ? list_line(c, ".") : ListAsk::List;
    c.list.newEntries = stat;
    c.list.updating = true;
    return ListAsk::List;
}

ListAsk list_line(Connection& c, const char* line) {
    if (!c.user) return ListAsk::Nothing;
    if (line[0] == '.' && line[1] == '\0') return list_end(c);
    int number = 0;
    int size = 0;
    const char* s = line;
    if (!read_number(s, number) || !read_number(s, size) || number == 0) return ListAsk::Nothing;
    if (KeptEntry* e = find_number(c, number)) {
        if (e->size == size) return ListAsk::Nothing;
        e->size = size;
        e->changed = 1;
        c.list.updating = false;
        return ListAsk::Nothing;
    }
    KeptEntry* e = append_kept(c.user, set_of(c), c.list.tail, number, size);
    if (!e) return ListAsk::Nothing; // the message gets no row
    e->changed = 1;
    c.list.lookup = e;
    c.list.newEntries++;
    return ListAsk::Nothing;
}

void list_heading(Connection& c) {
    if (!c.user) return;
    c.user->runtime.listTime = static_cast<int32_t>(local_seconds());
    session_touch(c.userName, c.session.check, local_seconds());
    const int set = set_of(c);
    if (set != 0) return;
    char title[256];
    snprintf(title, sizeof title, Message(kMsgListTitle, c.english), c.userName);
    PageHead(c, title);
    BeginPage(c, kPageBody | kPagePre);
    OutputText(c, "<center><font size=+1>", 0);
    OutputText(c, title, 0);
    OutputText(c, "</font>", 0);
    ComposeLinks(c);
    OutputFormat(c, 0, "<hr></center><form method=\"post\" action=\"/mail/index.html%s\">",
                 c.loginQuery);
    FormTokenField(c);
    BeginPage(c, kPagePre);
    OutputFormat(c, 0, "%s %s\r\n", Message(kMsgMailAddress, c.english),
                 c.user->set[set].mail_address);
}

void list_row(Connection& c) {
    KeptEntry* e = c.list.current;
    if (!e) return;
    const char letter = static_cast<char>('a' + set_of(c));
    const int n = c.list.rowNumber;
    char subject[kSafeSubjectSize];
    safe_subject(subject, e->subject);
    // Written without printf: ten thousand rows spent most of their time
    // parsing the same two formats.
    TextBuilder<kLineSize> head;
    head.Add("<a name=\""sv).Add(letter).Number(n, 4, '0');
    head.Add("\"><font size=+1><input type=checkbox name=\"delete_"sv)
        .Add(letter)
        .Number(n, 0, ' ');
    head.Add("\" "sv).Add(e->read == 1 ? "CHECKED"sv : ""sv).Add("><a href=\"/mail/"sv).Add(letter);
    head.Number(n, 4, '0').Add(".html"sv).Add(c.loginQuery).Add("\">"sv).Number(n, 4, '0');
    head.Add(". "sv).Add(subject).Add("</a></font>\r\n"sv);
    OutputText(c, head.c_str(), 0);
    const int bias = time_zone_bias();
    if (!e->shownDate[0] || e->shownBias != bias) {
        format_mail_date(e->shownDate, e->date);
        e->shownBias = bias;
    }
    const bool plain = e->contentClass == kClassText || e->contentClass == kClassHtml ||
                       e->contentClass == kClassAlternative;
    TextBuilder<kLineSize> line;
    line.Add("  "sv)
        .Add(plain ? "      "sv : std::string_view(Message(kMsgAttachedMark, c.english)))
        .Add("  "sv);
    line.Add(e->shownDate)
        .Add("  ("sv)
        .Number(e->size, 6, ' ')
        .Add(")  "sv)
        .Add(e->from)
        .Add("\r\n\r\n"sv);
    OutputText(c, line.c_str(), kOutText);
    e->number = n;
}

void list_kept_rows(Connection& c) {
    list_heading(c);
    c.list.rowNumber = 1;
    c.list.current = nullptr;
    if (!c.user) return;
    const int set = set_of(c);
    for (KeptEntry* e = kept_head(c); e; e = e->next) {
        prefetch_row(e->next);
        c.list.current = e;
        if (!kept_has_headers(*e)) return;
        if (set == 0) list_row(c);
        c.list.rowNumber++;
    }
    c.list.current = nullptr;
}

ListAsk list_tops_begin(Connection& c) {
    return c.list.current ? ListAsk::Top : ListAsk::Quit;
}

int list_take_current(Connection& c) {
    KeptEntry* e = c.list.current;
    if (!e) return 0;
    // Cleared here as well for the first entry of a pass, so that a stale
    // flag does not cost a second TOP on a later visit.
    e->changed = 0;
    c.list.sent = e;
    return e->number;
}

// The entries are walked in list order with the test the arrivals use, so
// replies and entries pair up.
int list_take_next_wanted(Connection& c) {
    if (!c.list.sent) return 0;
    for (KeptEntry* e = c.list.sent->next; e; e = e->next) {
        c.list.sent = e;
        if (wants_top(*e)) return e->number;
    }
    return 0;
}

ListAsk list_headers_done(Connection& c) {
    KeptEntry* e = c.list.current;
    if (!e || !c.user) return ListAsk::Quit;
    {
        // The request thread may be matching message ids (find_kept).
        std::lock_guard<std::recursive_mutex> hold(globalLock);
        const MimeState& m = c.mime;
        sjis_copy(e->subject, m.subjectLine);
        sjis_copy(e->date, m.dateLine);
        e->shownDate[0] = '\0';
        sjis_copy(e->from, m.fromLine);
        sjis_copy(e->to, m.toLine);
        sjis_copy(e->replyTo, m.replyTo);
        if (strncmp(e->messageId, m.messageId, sizeof e->messageId) != 0) e->read = 0;
        sjis_copy(e->messageId, m.messageId);
        e->contentClass = m.contentClass;
        // A pipelined request leaves the flag until its reply is in: a
        // broken exchange fetches the rest again on the next visit.
        e->changed = 0;
    }
    const int set = set_of(c);
    for (;;) {
        if (set == 0) list_row(c);
        c.list.rowNumber++;
        KeptEntry* next = c.list.current->next;
        if (!next) {
            c.list.current = nullptr;
            return ListAsk::Quit;
        }
        clear_collected(c);
        c.list.current = next;
        // An entry left without headers by a broken earlier exchange is
        // fetched too: its row would otherwise stay empty.
        if (wants_top(*next)) return ListAsk::Top;
    }
}

void list_footer(Connection& c) {
    long listTime = c.user ? static_cast<long>(c.user->runtime.listTime.load()) : 0;
    OutputFormat(c, 0, "<input type=\"hidden\" value=\"%ld\" name=\"list_time\">", listTime);
    OutputFormat(c, 0,
                 "<input type=\"submit\" value=\"%s\">  <input type=\"reset\" "
                 "value=\"%s\"></pre></form>",
                 Message(kMsgDeleteMarked, c.english), Message(kMsgResetMarks, c.english));
    BeginPage(c, kPageCenter);
    ComposeLinks(c);
    SetupLinks(c);
    EndPage(c, kPageCenter);
}
