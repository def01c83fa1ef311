// The address-book page in its two variants, and the "add=" path that puts
// the sender of a displayed message into the book in one click.
#include "mail/book/address_book.h"
#include "mail/book/book_entries.h"
#include "mail/book/book_internal.h"
#include "mail/book/book_state.h"
#include "page/output/form_token.h"

#include "base/charset/sjis.h"
#include "base/text/address.h"
#include "base/text/blanks.h"
#include "base/text/messages.h"
#include "page/output/common_links.h"
#include "page/output/output_text.h"
#include "page/output/page_frame.h"
#include "page/output/send_status.h"
#include "store/data_file.h"
#include <algorithm>
#include <cstdio>
#include <cstring>

using namespace book;

namespace {

constexpr int kInputSize = 40;
constexpr int kMinListSize = 10;

// Message index with its one "%s" filled by arg, escaped.
void OutputMessageWith(Connection& c, int index, const char* arg) {
    const char* m = Message(index, c.english);
    const char* at = strstr(m, "%s");
    if (!at) {
        OutputText(c, m, 0);
        return;
    }
    char head[256];
    snprintf(head, sizeof head, "%.*s", static_cast<int>(at - m), m);
    OutputText(c, head, 0);
    OutputEscaped(c, arg);
    OutputText(c, at + 2, 0);
}

// "Back" to the message the page was reached from, and the list.
void BackLinks(Connection& c, const char* before, const char* after) {
    OutputText(c, before, 0);
    OutputText(c, "<a href=\"/mail/", 0);
    OutputEscaped(c, c.book.back);
    OutputFormat(c, 0, ".html%s\">%s</a>    <a href=\"/mail/index.html%s\">%s</a>", c.loginQuery,
                 Message(kMsgBack, c.english), c.loginQuery, Message(kMsgBackToList, c.english));
    OutputText(c, after, 0);
}

int ListSize(const Connection& c, int entries) {
    if (!(c.browser & (kBrowserMsie | kBrowserMozilla5))) return std::max(entries, kMinListSize);
    const BasicSettings& s = data_store().settings;
    if (s.language_policy & kLanguageRowsFixed) return s.fixed_rows;
    return c.user ? c.user->options[row_count] : kMinListSize;
}

// The name an "add=" value carries: «Taro <t@b.c>» gives «Taro » (its
// trailing blank kept), «"Taro" <t@b.c>» gives «Taro», «t@b.c (Taro)»
// gives «Taro», anything else none.
std::string SenderName(const char* from) {
    if (strchr(from, '<')) {
        if (from[0] == '<') return {};
        if (from[0] == '"') from++;
        return std::string(from, strcspn(from, "<\""));
    }
    if (const char* open = strchr(from, '(')) return std::string(open + 1, strcspn(open + 1, ")"));
    return {};
}

// A name or address that would split or close an entry is not stored as it
// came: a sender name with such a character is left out, such an address is
// not added at all.
bool BreaksEntry(const std::string& s, const char* breakers) {
    for (const char* b = breakers; *b; b++)
        if (sjis_find(s.c_str(), *b) >= 0) return true;
    return std::any_of(s.begin(), s.end(),
                       [](char ch) { return static_cast<unsigned char>(ch) < 0x20; });
}

// Appends the "add=" sender to book and saves it, unless its address is
// already in the book.
void AddSender(Connection& c, std::string& book) {
    char address[kFieldSize];
    ExtractAddress(address, c.book.add);
    if (!address[0] || BreaksEntry(address, ",") || !AddressInBook(c, c.book.add)) return;
    std::string name = SenderName(c.book.add);
    if (BreaksEntry(name, ",<>")) name.clear();
    // The leading "," even on an empty book: readers skip the empty entry.
    book += name.empty() ? ",<" : "," + name + " <";
    book += address;
    book += '>';
    StoreBook(c, book);
}

void PlainEntry(Connection& c, int i, const char* entry, size_t n) {
    const int e = c.english;
    BookEntryParts p = book_entry_parts(entry, n);
    OutputFormat(c, 0, "%-18s: <input type=text name=\"book_name%d\" value=\"",
                 Message(kMsgName, e), i);
    OutputEscaped(c, p.name, p.nameLength);
    OutputFormat(c, 0,
                 "\" size=%d maxlength=%d>  <input type=checkbox name=\"book_delete%d\">%s\r\n"
                 "%-18s: <input type=text name=\"book_mail_address%d\" value=\"",
                 kInputSize, kInputSize, i, Message(kMsgDelete, e), Message(kMsgMailAddress, e), i);
    OutputEscaped(c, p.address, p.addressLength);
    OutputFormat(c, 0, "\" size=%d maxlength=%d>\r\n\r\n", kInputSize, 80);
}

void ScriptTail(Connection& c, const std::string& book, const char* sep) {
    const int e = c.english;
    OutputText(c, "</select><br>", 0);
    const struct {
        int message;
        const char* call;
    } buttons[] = {{kMsgUp, "iup()"},
                   {kMsgDown, "idown()"},
                   {kMsgSortName, "isort(0)"},
                   {kMsgSortAddress, "isort(1)"},
                   {kMsgDelete, "idelete(-1)"}};
    for (const auto& b : buttons)
        OutputFormat(c, 0, "<input type=\"button\" value=\"%s\" onClick=\"%s\">%s",
                     Message(b.message, e), b.call, sep);
    OutputFormat(c, 0,
                 "<br><br><pre>%-18s: <input type=text name=\"book_name\" size=%d maxlength=%d>\r\n"
                 "%-18s: <input type=text name=\"book_mail_address\" size=%d maxlength=%d>",
                 Message(kMsgName, e), kInputSize, 80, Message(kMsgMailAddress, e), kInputSize,
                 kInputSize);
    OutputFormat(c, 0,
                 "\r\n<input type=\"button\" value=\"%s\" onClick=\"iadd(-1)\">  <input "
                 "name=\"bedit\" type=\"button\" value=\"%s\" onClick=\"iedit()\"></pre><hr>",
                 Message(kMsgAdd, e), Message(kMsgEdit, e));
    OutputText(c, "<input type=hidden name=\"base\" value=\"", 0);
    OutputEscaped(c, book.data(), book.size());
    OutputFormat(c, 0,
                 "\"><input type=hidden name=\"message\"><input type=\"submit\" value=\"%s\">%s"
                 "<input type=\"reset\" value=\"%s\"><br><font size=2>%s</font><hr></pre></form>",
                 Message(kMsgUpdate, e), sep, Message(kMsgRedo, e), Message(kMsgNotUpdated, e));
}

void PlainTail(Connection& c, int next, const char* sep) {
    const int e = c.english;
    OutputFormat(c, 0,
                 "\r\n%s\r\n%-18s: <input type=text name=\"book_name%d\" size=%d maxlength=%d>\r\n",
                 Message(kMsgAdd, e), Message(kMsgName, e), next, kInputSize, 80);
    OutputFormat(c, 0,
                 "%-18s: <input type=text name=\"book_mail_address%d\" size=%d "
                 "maxlength=%d>\r\n</pre>",
                 Message(kMsgMailAddress, e), next, kInputSize, kInputSize);
    OutputFormat(c, 0,
                 "<input type=\"submit\" value=\"%s\">%s<input type=\"reset\" "
                 "value=\"%s\"></pre></form>\r\n",
                 Message(kMsgUpdate, e), sep, Message(kMsgRedo, e));
    OutputFormat(c, 0, "<font size=2>%s<br>%s<br>%s<br></font><hr>", Message(kMsgHowToAdd, e),
                 Message(kMsgHowToRevise, e), Message(kMsgHowToDelete, e));
}

} // namespace

void WriteBookPage(Connection& c) {
    const bool script = ScriptVariant(c);
    char sep[16];
    Blanks(sep, c.browser, 2);

    BeginPage(c, kPageBody | kPagePre | kPageCenter);
    OutputText(c, "<font size=+1>", 0);
    OutputMessageWith(c, kMsgTitle, c.userName);
    OutputText(c, "</font>\r\n\r\n", 0);
    if (c.book.add[0]) {
        OutputText(c, "<font size=2>", 0);
        OutputMessageWith(c, kMsgAdded, c.book.add);
        OutputText(c, "</font>", 0);
    }
    if (c.book.back[0]) {
        BackLinks(c, "<pre>", "<hr></pre></pre>");
    } else {
        ListLink(c);
        OutputText(c, "</pre><hr>", 0);
    }
    OutputFormat(c, 0,
                 "<form name=\"mail\" method=\"post\"%s action=\"/mail/book/index.html%s\" %s>",
                 (c.browser & kBrowserMsie) ? " enctype=\"multipart/form-data\"" : "", c.loginQuery,
                 script ? "onSubmit=\"iplus()\" onReset=\"ireset()\"" : "");
    FormTokenField(c);

    std::string book = CopyBook(c);
    while (!book.empty() && (book.back() == '\r' || book.back() == '\n')) book.pop_back();
    if (script) {
        WriteBookScript(c);
        // The <pre> opens before the list, not inside it: current browsers
        // draw a select whose options sit in another element as an empty
        // box two pixels wide.
        OutputFormat(c, 0, "<pre><center><select name=\"list\" size=%d>",
                     ListSize(c, count_book_entries(book)));
    } else {
        OutputText(c, "<pre>", 0);
    }
    if (c.book.add[0]) AddSender(c, book);

    int i = 0;
    for_each_book_entry(book, [&](const char* entry, size_t n) {
        i++;
        if (script) {
            OutputText(c, "<option>", 0);
            OutputEscaped(c, entry, n);
        } else {
            PlainEntry(c, i, entry, n);
        }
    });
    if (script && i == 0) OutputFormat(c, 0, "<option>%s", kPlaceholder);

    if (script) {
        ScriptTail(c, book, sep);
    } else {
        PlainTail(c, i + 1, sep);
    }
    if (c.book.back[0]) {
        BackLinks(c, "<center><pre>", "</pre></center>");
    } else {
        OutputText(c, "<center>", 0);
        ListLink(c);
        OutputText(c, "</center>", 0);
    }
    EndPage(c, kPageBody | kPageHtml);
}

void ShowBookPage(Connection& c) {
    SendStatus(c, 200);
    char title[256];
    snprintf(title, sizeof title, Message(kMsgTitle, c.english), c.userName);
    PageHead(c, title);
    WriteBookPage(c);
}
