// The settings form: filled from a record, written from the slots. The same
// writer serves the first display and the redisplay after an error.
#include "account/settings_form.h"
#include "page/output/form_token.h"

#include "account/settings_security.h"
#include "base/charset/sjis.h"
#include "base/global_lock.h"
#include "base/text/markup_escape.h"
#include "base/text/messages.h"
#include "mail/oauth/oauth_client.h"
#include "page/output/common_links.h"
#include "page/output/output_text.h"
#include "page/output/page_frame.h"
#include "store/data_file.h"
#include "store/mail_security.h"

#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

namespace {

constexpr int kTextWidth = 40;
constexpr int kUploadChoices = 10;

// What the writer needs of the record, read under the lock before any output.
struct RecordView {
    bool has_id[kSettingsSets] = {};
    bool verify[kSettingsSets] = {true, true, true};
    std::string user_name;
};

RecordView ViewOf(const Connection& c, int set) {
    RecordView v;
    if (set < 0 || !c.user) return v;
    std::lock_guard<std::recursive_mutex> hold(globalLock);
    for (int k = 0; k < kSettingsSets; k++) {
        v.has_id[k] = c.user->set[k].id[0] != '\0';
        v.verify[k] = mail_security_of(data_store().settings, c.user->set[k]).verify;
    }
    v.user_name = MarkupEscape(c.user->set[0].name);
    return v;
}

std::string Escaped(const Connection& c, int slot) {
    return MarkupEscape(c.formSlots[slot]);
}

const char* Multipart(const Connection& c) {
    return (c.browser & kBrowserMozilla2) ? " enctype=\"multipart/form-data\"" : "";
}

// "index.html" for Settings 1, "index2.html" and "index3.html" for the others.
std::string SetPage(const char* stem, int set) {
    return set == 0 ? std::string(stem) + ".html" : stem + std::to_string(set + 1) + ".html";
}

void Heading(Connection& c, int set, const RecordView& v) {
    const int e = c.english;
    if (set < 0) {
        OutputFormat(c, 0, "<center><font size=+1>%s</font>\r\n", Message(kMsgAddUsers, e));
        return;
    }
    char title[256];
    message_with(title, sizeof title, kMsgChangeIn, e, v.user_name.c_str());
    OutputFormat(c, 0, "<center><font size=+1>%s</font>\r\n\r\n", title);
}

// The row of settings sets: each set with a POP3 user name, then the first
// empty one as the place to add a set.
void SetTabs(Connection& c, int set, const RecordView& v) {
    const int e = c.english;
    OutputText(c, "<center>", 0);
    for (int k = 0; k < kSettingsSets; k++) {
        if (k > 0) OutputText(c, "  ", 0);
        const std::string page = SetPage("index", k);
        char label[256];
        if (!v.has_id[k]) {
            message_with(label, sizeof label, kMsgAddSet, e, k + 1);
            if (k == set)
                OutputText(c, label, 0);
            else
                OutputFormat(c, 0, "<a href=\"/mail/setup/%s%s\">%s</a>", page.c_str(),
                             c.loginQuery, label);
            break;
        }
        if (k == set) {
            OutputFormat(c, 0, "%s%d", Message(kMsgSettings, e), k + 1);
            continue;
        }
        message_with(label, sizeof label, kMsgChangeSet, e, k + 1);
        OutputFormat(c, 0, "<a href=\"/mail/setup/%s%s\">%s</a>", page.c_str(), c.loginQuery,
                     label);
    }
    OutputText(c, "</center><hr><br>", 0);
}

// A text input, or the value as text with a hidden field when it may not be
// changed here.
void TextLine(Connection& c, int label, const char* field, int slot, int maxlength, bool editable) {
    const std::string value = Escaped(c, slot);
    if (editable)
        OutputFormat(c, 0,
                     "%-23s: <input type=text name=\"user_%s\" value=\"%s\" size=%d "
                     "maxlength=%d>\r\n",
                     Message(label, c.english), field, value.c_str(), kTextWidth, maxlength);
    else
        OutputFormat(c, 0, "%-23s: %s<input type=hidden name=\"user_%s\" value=\"%s\">\r\n",
                     Message(label, c.english), value.c_str(), field, value.c_str());
}

// Passwords are never written back into the page.
void PasswordLine(Connection& c, int label, const char* field) {
    OutputFormat(c, 0, "%-23s: <input type=password name=\"user_%s\" size=%d maxlength=%d>\r\n",
                 Message(label, c.english), field, kTextWidth, kTextWidth);
}

void CheckboxLine(Connection& c, const char* field, int slot, const char* text) {
    OutputFormat(c, 0, "<input type=checkbox name=\"user_%s\"%s>%s\r\n", field,
                 slot_ticked(c, slot) ? " checked" : "", text);
}

void CheckboxWith(Connection& c, const char* field, int slot, int message, int word) {
    char text[256];
    message_with(text, sizeof text, message, c.english, Message(word, c.english));
    CheckboxLine(c, field, slot, text);
}

void Passwords(Connection& c, int set, const SettingsPolicy& p) {
    if (settings_adding(c, set)) {
        PasswordLine(c, kMsgPassword, "pass1");
        PasswordLine(c, kMsgPasswordReentry, "pass2");
        return;
    }
    if (!p.password) return;
    PasswordLine(c, kMsgOldPassword, "pass0");
    PasswordLine(c, kMsgNewPassword, "pass1");
    PasswordLine(c, kMsgNewPasswordReentry, "pass2");
    if (p.poppassd) CheckboxLine(c, "poppassd", kSlotPoppassd, Message(kMsgPoppassd, c.english));
    OutputFormat(c, 0, "%s\r\n", Message(kMsgPasswordHint, c.english));
}

void UploadSelect(Connection& c) {
    const int current = slot_number(c, kSlotUploadNo);
    OutputFormat(c, 0, "%-23s: <select name=\"user_upload_no\">", Message(kMsgUploads, c.english));
    for (int n = 1; n <= kUploadChoices; n++)
        OutputFormat(c, 0, "<option%s>%d</option>", n == current ? " selected" : "", n);
    OutputText(c, "</select>\r\n", 0);
}

// The display options belong to the user, so only Settings 1 and the
// registration form offer them.
void Options(Connection& c, const SettingsPolicy& p) {
    const int e = c.english;
    if (p.columns)
        OutputFormat(c, 0,
                     "%-23s: <input type=text name=\"user_column_count\" value=\"%s\" size=4 "
                     "maxlength=3>\r\n",
                     Message(kMsgColumns, e), Escaped(c, kSlotColumnCount).c_str());
    if (p.rows)
        OutputFormat(c, 0,
                     "%-23s: <input type=text name=\"user_row_count\" value=\"%s\" size=3 "
                     "maxlength=2>\r\n",
                     Message(kMsgRows, e), Escaped(c, kSlotRowCount).c_str());
    if (p.upload_no) UploadSelect(c);
    if (p.header) CheckboxWith(c, "header_flag", kSlotHeaderFlag, kMsgHeader, kMsgShow);
    if (p.delete_mark) CheckboxWith(c, "delete_flag", kSlotDeleteFlag, kMsgReadMail, kMsgMark);
    if (p.jump) CheckboxWith(c, "jump_flag", kSlotJumpFlag, kMsgJump, kMsgJumps);
    if (p.cc) CheckboxLine(c, "cc_flag", kSlotCcFlag, Message(kMsgCc, e));
    if (p.bcc) CheckboxLine(c, "bcc_flag", kSlotBccFlag, Message(kMsgBcc, e));
    if (p.folding) CheckboxLine(c, "folding", kSlotFolding, Message(kMsgFolding, e));
    if (p.save_text) CheckboxLine(c, "save_text", kSlotSaveText, Message(kMsgSaveLink, e));
    if (p.delete_link) CheckboxLine(c, "delete_link", kSlotDeleteLink, Message(kMsgDeleteLink, e));
}

void Signature(Connection& c) {
    // The row and column slots hold checked decimal text by now; escaping
    // keeps a hand-made post from writing markup all the same.
    OutputFormat(c, 0, "%s : <br><textarea rows=%s cols=%s name=\"message\">",
                 Message(kMsgSignature, c.english), Escaped(c, kSlotRowCount).c_str(),
                 Escaped(c, kSlotColumnCount).c_str());
    OutputText(c, MarkupEscape(c.messageText).c_str(), 0);
    OutputText(c, "</textarea>\r\n", 0);
}

void FormHead(Connection& c, int set) {
    if (set < 0) {
        OutputFormat(c, 0, "<form method=\"post\"%s action=\"/mail/new/index.html\">\r\n",
                     Multipart(c));
    } else {
        OutputFormat(c, 0, "<form method=\"post\"%s action=\"/mail/setup/%s%s\">\r\n", Multipart(c),
                     SetPage("index", set).c_str(), c.loginQuery);
        FormTokenField(c);
    }
    OutputText(c, "<pre>", 0);
}

void DeleteForm(Connection& c, int set) {
    char label[256];
    message_with(label, sizeof label, kMsgDeleteSet, c.english, set + 1);
    OutputFormat(c, 0, "<hr><form method=\"post\"%s action=\"/mail/setup/delete%d.html%s\">",
                 Multipart(c), set + 1, c.loginQuery);
    FormTokenField(c);
    OutputFormat(c, 0, "<input type=\"submit\" value=\"%s\"></form>\r\n", label);
}

} // namespace

SettingsPolicy settings_policy(const BasicSettings& s) {
    SettingsPolicy p;
    p.name = s.user_policy_1 & kPolicy1MayChangeName;
    p.mail_address = s.user_policy_2 & kPolicy2MayChangeAddress;
    p.id = s.user_policy_3 & kPolicy3MayChangeId;
    p.password = !(s.user_policy_1 & kPolicy1PasswordFixed);
    p.servers = s.per_user_servers && (s.user_policy_4 & kPolicy4MayChangeServers);
    p.quotation = !(s.language_policy & kLanguageQuotationFixed);
    p.rows = !(s.language_policy & kLanguageRowsFixed);
    p.columns = !(s.language_policy & kLanguageColumnsFixed);
    p.upload_no = !(s.user_policy_1 & kPolicy1UploadNoFixed);
    p.header = !(s.user_policy_2 & kPolicy2HeaderFixed);
    p.delete_mark = !(s.user_policy_2 & kPolicy2DeleteFixed);
    p.jump = !(s.user_policy_2 & kPolicy2JumpFixed);
    p.cc = !(s.user_policy_2 & kPolicy2CcFixed);
    p.bcc = !(s.user_policy_2 & kPolicy2BccFixed);
    p.folding = !(s.user_policy_1 & kPolicy1FoldingFixed);
    p.save_text = !(s.user_policy_1 & kPolicy1SaveTextFixed);
    p.delete_link = s.mail_options & kMailDeleteLinkChangeable;
    p.apop = s.apop_changeable != 0;
    p.poppassd = s.poppassd_changeable != 0;
    p.signature = !(s.user_policy_1 & kPolicy1SignatureFixed);
    return p;
}

bool settings_adding(const Connection& c, int set) {
    if (set < 0 || !c.user) return true;
    std::lock_guard<std::recursive_mutex> hold(globalLock);
    return c.user->set[set].id[0] == '\0';
}

void message_with(char* dst, size_t size, int index, int english, const char* text) {
    snprintf(dst, size, Message(index, english), text);
}

void message_with(char* dst, size_t size, int index, int english, int number) {
    snprintf(dst, size, Message(index, english), number);
}

void fill_settings_form(Connection& c, const UserRecord& r, int set) {
    const BasicSettings& b = data_store().settings;
    const SettingsPolicy p = settings_policy(b);
    const SettingsSet& s = r.set[set < 0 ? 0 : set];
    set_slot(c, kSlotName, s.name);
    set_slot(c, kSlotMailAddress, s.mail_address);
    set_slot(c, kSlotId, s.id);
    set_slot(c, kSlotSmtpName, s.smtp_name);
    set_slot(c, kSlotPop3Name, s.pop3_name);
    if (set == 0) {
        if (!s.smtp_name[0]) set_slot(c, kSlotSmtpName, b.smtp_server);
        if (!s.pop3_name[0]) set_slot(c, kSlotPop3Name, b.pop3_server);
    }
    set_slot(c, kSlotQuotation, s.quotation);
    set_slot_number(c, kSlotColumnCount, p.columns ? r.options[column_count] : b.fixed_columns);
    set_slot_number(c, kSlotRowCount, p.rows ? r.options[row_count] : b.fixed_rows);
    set_slot_number(c, kSlotUploadNo, r.options[upload_no] ? r.options[upload_no] : 1);
    const struct {
        int slot;
        bool on;
    } flags[] = {
        {kSlotHeaderFlag, r.options[header_flag] != 0},
        {kSlotDeleteFlag, r.options[delete_flag] != 0},
        {kSlotJumpFlag, r.options[jump_flag] != 0},
        {kSlotCcFlag, r.options[cc_flag] != 0},
        {kSlotBccFlag, r.options[bcc_flag] != 0},
        {kSlotFolding, r.options[folding] != 0},
        {kSlotSaveText, r.options[save_text] != 0},
        {kSlotDeleteLink, r.options[delete_link] != 0},
        {kSlotApopFlag, s.apop_flag != 0},
        {kSlotPoppassd, b.poppassd_value != 0},
    };
    for (const auto& f : flags) set_slot(c, f.slot, f.on ? "1" : "");
    fill_security_slots(c, b, &s, r.set[0].id);
    const int n = sjis_copy(c.messageText, s.signature);
    c.messageLength = n;
}

// A set that logs in with OAuth2 is connected to its provider from here:
// the browser goes to the provider and comes back with the tokens.
static void OAuthLine(Connection& c, int set) {
    bool connected = false;
    {
        std::lock_guard<std::recursive_mutex> hold(globalLock);
        const SettingsSet& s = c.user->set[set];
        if (!s.id[0] || !set_uses_oauth(*c.user, set)) return;
        connected = !data_store()
                         .credentials.get(c.user->set[0].id, s.id, s.pop3_name, kOAuthRefreshName)
                         .empty();
    }
    OutputFormat(c, 0, "<p>%s: %s  <a href=\"/mail/oauth/connect%d%s\">%s</a></p>\r\n",
                 Message(kMsgOAuthLogin, c.english),
                 Message(connected ? kMsgOAuthConnected : kMsgOAuthNotConnected, c.english),
                 set + 1, c.loginQuery, Message(kMsgOAuthConnect, c.english));
}

void write_settings_form(Connection& c, int set) {
    const int e = c.english;
    const BasicSettings& b = data_store().settings;
    const SettingsPolicy p = settings_policy(b);
    const RecordView v = ViewOf(c, set);
    const bool adding = settings_adding(c, set);

    Heading(c, set, v);
    if (b.multiple_addresses && set >= 0) SetTabs(c, set, v);
    OutputText(c, "</center>", 0);
    FormHead(c, set);

    TextLine(c, kMsgName, "name", kSlotName, 40, adding || p.name);
    TextLine(c, kMsgMailAddress, "mail_address", kSlotMailAddress, 80, adding || p.mail_address);
    TextLine(c, kMsgPop3User, "id", kSlotId, 40, adding || p.id);
    Passwords(c, set, p);
    if (p.servers) {
        TextLine(c, kMsgSmtpServer, "smtp_name", kSlotSmtpName, 80, true);
        TextLine(c, kMsgPop3Server, "pop3_name", kSlotPop3Name, 80, true);
    }
    write_security_fields(c, b, p.servers, !adding && !v.verify[set < 0 ? 0 : set]);
    if (p.quotation)
        OutputFormat(c, 0,
                     "%-23s: <input type=text name=\"user_quotation\" value=\"%s\" size=3 "
                     "maxlength=4> %s\r\n",
                     Message(kMsgQuotation, e), Escaped(c, kSlotQuotation).c_str(),
                     Message(kMsgQuotationHint, e));
    if (set <= 0) Options(c, p);
    if (p.apop) CheckboxWith(c, "apop_flag", kSlotApopFlag, kMsgApop, kMsgUse);
    if (p.signature) Signature(c);

    OutputFormat(c, 0,
                 "<input type=\"submit\" value=\"%s\">  <input type=\"reset\" "
                 "value=\"%s\"></pre></form>\r\n",
                 Message(set < 0 ? kMsgRegistration : kMsgSettings, e), Message(kMsgRedo, e));
    if (!adding && set >= 0) OAuthLine(c, set);
    if (set > 0 && v.has_id[set]) DeleteForm(c, set);
    settings_page_end(c, set);
}

void settings_page_end(Connection& c, int set) {
    if (set < 0) {
        TopLink(c);
    } else {
        BeginPage(c, kPageCenter | kPageHr);
        ListLink(c);
        EndPage(c, kPageCenter);
    }
    EndPage(c, kPageBody | kPageHtml);
}
