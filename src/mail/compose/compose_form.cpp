#include "mail/compose/compose_form.h"
#include "base/charset/detect.h"
#include "base/global_lock.h"
#include "base/text/markup_escape.h"
#include "base/text/messages.h"
#include "mail/book/address_book.h"
#include "mail/compose/compose_options.h"
#include "mail/compose/outgoing.h"
#include "mail/compose/reply_fields.h"
#include "page/output/form_token.h"
#include "page/output/output_text.h"
#include "page/output/page_policy.h"

#include <algorithm>
#include <cstring>
#include <mutex>

namespace {

constexpr int kFieldWidth = 60;
constexpr int kFieldMax = 300;
constexpr int kUploadWidth = 40;
// "宛先" in Shift_JIS: the label of the plain browsers' To select in both
// languages.
constexpr char kToSelectLabel[] = "\x88\xb6\x90\xe6";

constexpr char kScript[] = "<script language=\"JavaScript\">\r\n"
                           "<!--\r\n"
                           "function add_to(flag) {\r\n"
                           "  var target = flag == 1 ? document.mail.send_to\r\n"
                           "    : flag == 2 ? document.mail.send_cc : document.mail.send_bcc;\r\n"
                           "  var book = document.mail.book_to;\r\n"
                           "  for (var i = 0; i < book.options.length; i++) {\r\n"
                           "    if (!book.options[i].selected) continue;\r\n"
                           "    if (target.value != \"\") target.value += \",\";\r\n"
                           "    target.value += book.options[i].text;\r\n"
                           "  }\r\n"
                           "}\r\n"
                           "function add_cc() {\r\n"
                           "  document.mail.send_cc.value = document.mail.base.value;\r\n"
                           "}\r\n"
                           "// -->"
                           "</script>";

void WriteComposeScript(Connection& c) {
    OutputText(c, kScript, 0);
}

[[maybe_unused]] const bool kScriptAllowed =
    register_page_script(WriteComposeScript) && register_page_handler("add_cc()") &&
    register_page_handler("add_to(1)") && register_page_handler("add_to(2)") &&
    register_page_handler("add_to(3)");

const SettingsSet& Sender(const Connection& c) {
    const int set = c.settingsIndex >= 0 && c.settingsIndex < kSettingsSets ? c.settingsIndex : 0;
    return c.user->set[set];
}

// Calls f with every entry of an address-list text; the shared book also
// separates entries by line ends.
template <typename F> void EachEntry(const char* text, F f) {
    const char* p = text;
    while (*p) {
        const size_t n = strcspn(p, ",\r\n");
        if (n > 0) f(std::string(p, n));
        p += n;
        if (*p) p++;
    }
}

// The personal book as it stands now: another page of the same user may
// replace it meanwhile.
std::string PersonalBook(const Connection& c) {
    std::lock_guard<std::recursive_mutex> hold(globalLock);
    return c.user ? c.user->address_book : std::string();
}

void WriteBookOptions(Connection& c, const std::string& personal) {
    auto option = [&](const std::string& entry) {
        OutputText(c, "<option>", 0);
        OutputText(c, MarkupEscape(entry.c_str()).c_str(), 0);
    };
    EachEntry(personal.c_str(), option);
    if (const std::string* shared = shared_address_book()) EachEntry(shared->c_str(), option);
}

bool BookExists(const std::string& personal) {
    const std::string* shared = shared_address_book();
    return !personal.empty() || (shared && !shared->empty());
}

void WriteBookSelect(Connection& c, const std::string& personal, const char* label,
                     const char* field) {
    OutputFormat(c, 0, "%-4s     : <select name=\"send_%s\"><option>", label, field);
    WriteBookOptions(c, personal);
    OutputText(c, "</select>\r\n", 0);
}

// Writes text into the text area: escaped, so that no text can close the
// area, and with the quotation mark after every line break when quoting.
void WriteAreaText(Connection& c, const char* text, bool quote) {
    const std::string escaped = MarkupEscape(text);
    const int flags = quote ? kOutQuote : 0;
    // Pieces end before a line feed, so the filter sees each line feed
    // together with the line after it.
    constexpr size_t kPiece = 2048;
    size_t at = 0;
    while (at < escaped.size()) {
        size_t end = at + 1;
        while (end < escaped.size() && end - at < kPiece && escaped[end] != '\n') end++;
        OutputText(c, escaped.substr(at, end - at).c_str(), flags);
        at = end;
    }
}

void WriteText(Connection& c, FormVariant variant, const char* quotation) {
    switch (variant) {
    case FormVariant::Resend:
    case FormVariant::AddressError:
        // The sender's own text comes back as it was written.
        WriteAreaText(c, c.messageText, false);
        break;
    case FormVariant::Reply: {
        if (!quotation[0] || !c.quotationText[0]) break;
        int n = static_cast<int>(strnlen(c.quotationText, kQuotationTextSize - 1));
        n = convert_to_sjis(c.quotationText, n, kCodeSjis);
        // A broken two-byte run can convert to a NUL, which would end the
        // quotation there.
        n = static_cast<int>(std::remove(c.quotationText, c.quotationText + n, '\0') -
                             c.quotationText);
        c.quotationText[n] = '\0';
        // Raw, as the filter writes it after every later line break.
        OutputText(c, quotation, 0);
        WriteAreaText(c, c.quotationText, true);
        break;
    }
    case FormVariant::New:
        break;
    }
}

} // namespace

void WriteForm(Connection& c, FormVariant variant) {
    if (!c.user) return;
    const int e = c.english;
    const ComposeOptions o = compose_options(c);
    const SettingsSet& sender = Sender(c);
    const bool script = (c.browser & kBrowserMozilla2) != 0;
    const std::string personal = PersonalBook(c);
    const bool book = BookExists(personal);
    const bool others = variant == FormVariant::Reply && OtherRecipientsExist(c);
    const bool redisplay = variant == FormVariant::AddressError || variant == FormVariant::Resend;
    const bool sentPage = variant == FormVariant::Resend;
    const char* query = c.loginQuery;

    if (script && (book || others)) WriteComposeScript(c);
    char action[64] = "/mail/write/index.html";
    if (c.settingsIndex > 0)
        snprintf(action, sizeof action, "/mail/write/index%d.html", c.settingsIndex + 1);
    if (script)
        OutputFormat(c, 0,
                     "<form name=\"mail\" method=\"post\" enctype=\"multipart/form-data\" "
                     "action=\"%s%s\">\r\n",
                     action, query);
    else
        OutputFormat(c, 0, "<form name=\"mail\" method=\"post\" action=\"%s%s\">\r\n", action,
                     query);
    FormTokenField(c);
    OutputText(c, "<pre>", 0);

    const std::string name = MarkupEscape(sender.name);
    const std::string address = MarkupEscape(sender.mail_address);
    if (sender.name[0])
        OutputFormat(c, 0, "%-9s: %s &lt;%s&gt;\r\n", Message(kMsgFrom, e), name.c_str(),
                     address.c_str());
    else
        OutputFormat(c, 0, "%-9s: &lt;%s&gt;\r\n", Message(kMsgFrom, e), address.c_str());

    const std::string to = MarkupEscape(redisplay ? c.send.sendTo : ReplyAddress(c).c_str());
    OutputFormat(c, 0,
                 "%-9s: <input type=text name=\"send_to\" value=\"%s\" size=%d maxlength=%d>\r\n",
                 Message(variant == FormVariant::Reply ? kMsgReturnTo : kMsgTo, e), to.c_str(),
                 kFieldWidth, kFieldMax);
    if (!script && book) WriteBookSelect(c, personal, kToSelectLabel, "to");

    if (o.cc) {
        if (variant == FormVariant::AddressError)
            OutputFormat(c, 0,
                         "Cc       : <input type=text name=\"send_cc\" value=\"%s\" size=%d "
                         "maxlength=%d>",
                         MarkupEscape(c.send.sendCc).c_str(), kFieldWidth, kFieldMax);
        else
            OutputFormat(c, 0, "Cc       : <input type=text name=\"send_cc\" size=%d maxlength=%d>",
                         kFieldWidth, kFieldMax);
        if (others && !sentPage)
            OutputFormat(c, 0, " <input type=\"button\" value=\"%s\" onClick=\"add_cc()\">\r\n",
                         Message(kMsgReplyToAll, e));
        else
            OutputText(c, "\r\n", 0);
        if (!script && book) WriteBookSelect(c, personal, "Cc", "cc");
    }
    if (o.bcc) {
        if (variant == FormVariant::AddressError)
            OutputFormat(c, 0,
                         "Bcc      : <input type=text name=\"send_bcc\" value=\"%s\" size=%d "
                         "maxlength=%d>\r\n",
                         MarkupEscape(c.send.sendBcc).c_str(), kFieldWidth, kFieldMax);
        else
            OutputFormat(c, 0,
                         "Bcc      : <input type=text name=\"send_bcc\" size=%d maxlength=%d>\r\n",
                         kFieldWidth, kFieldMax);
        if (!script && book) WriteBookSelect(c, personal, "Bcc", "bcc");
    }
    if (script && book) {
        OutputText(c, "           <select name=\"book_to\">", 0);
        WriteBookOptions(c, personal);
        OutputText(c, "</select>", 0);
        OutputFormat(c, 0, "<input type=\"button\" value=\"%s\" onClick=\"add_to(1)\">",
                     Message(kMsgAddToTo, e));
        if (o.cc)
            OutputFormat(c, 0, " <input type=\"button\" value=\"%s\" onClick=\"add_to(2)\">",
                         Message(kMsgAddToCc, e));
        if (o.bcc)
            OutputFormat(c, 0, " <input type=\"button\" value=\"%s\" onClick=\"add_to(3)\">",
                         Message(kMsgAddToBcc, e));
        OutputText(c, "\r\n\r\n", 0);
    }

    const std::string subject =
        MarkupEscape(redisplay ? c.send.sendSubject : ReplySubject(c, sentPage).c_str());
    OutputFormat(
        c, 0, "%-9s: <input type=text name=\"send_subject\" value=\"%s\" size=%d maxlength=%d>\r\n",
        Message(kMsgSubject, e), subject.c_str(), kFieldWidth, kFieldMax);

    OutputFormat(c, 0, "%-9s: <br><textarea rows=%d cols=%d name=\"message\">",
                 Message(kMsgText, e), o.rows, o.columns);
    WriteText(c, variant, o.quotation);
    // A logged message already carries the signature it went out with.
    if (o.signature && sender.signature[0] && !sentPage) {
        OutputText(c, "\r\n", 0);
        WriteAreaText(c, sender.signature, false);
    }
    OutputText(c, "</textarea>", 0);

    if (script) {
        OutputText(c, "\r\n", 0);
        for (int i = 1; i <= o.uploads; i++)
            OutputFormat(c, 0,
                         "%s: <input type=\"file\" name=\"upload%d\" size=%d maxlength=%d>\r\n",
                         Message(kMsgAttachedFileName, e), i, kUploadWidth, kFieldMax);
        OutputText(c, "<input type=\"hidden\" name=\"base\" value=\"", 0);
        if (others) OutputText(c, MarkupEscape(OtherRecipients(c).c_str()).c_str(), 0);
        OutputText(c, "\">", 0);
    }
    OutputFormat(c, 0,
                 "\r\n<input type=\"submit\" value=\"%s\">  <input type=\"reset\" "
                 "value=\"%s\"></pre></form>",
                 Message(kMsgSend, e), Message(kMsgRedo, e));
    if (!sentPage)
        OutputFormat(c, 0,
                     "<hr><center><pre><a href=\"/mail/book/index.html%s\">%s</a>    "
                     "<a href=\"/mail/sent/index.html%s\">%s</a></pre>",
                     query, Message(kMsgAddressBook, e), query, Message(kMsgSentList, e));
}
