#include "account/settings_security.h"

#include "account/settings_slots.h"
#include "base/text/markup_escape.h"
#include "base/text/messages.h"
#include "page/output/output_text.h"
#include "store/basic_settings.h"
#include "store/data_file.h"
#include "store/mail_security.h"
#include "store/user_record.h"

#include <cstring>

namespace {

struct Choice {
    const char* word;
    int message; // -1: the word itself is the text
};

constexpr Choice kPop3Choices[] = {
    {"none", kMsgSecurityNone}, {"stls", -1}, {"tls", kMsgTlsFromStart}};
constexpr Choice kSmtpChoices[] = {
    {"none", kMsgSecurityNone}, {"starttls", -1}, {"tls", kMsgTlsFromStart}};

const char* ChoiceText(const Connection& c, const Choice& choice, char* upper, size_t size) {
    if (choice.message >= 0) return Message(choice.message, c.english);
    size_t n = 0;
    for (const char* p = choice.word; *p && n + 1 < size; p++)
        upper[n++] = static_cast<char>(*p >= 'a' && *p <= 'z' ? *p - 'a' + 'A' : *p);
    upper[n] = '\0';
    return upper;
}

template <size_t N>
void SelectLine(Connection& c, int label, const char* field, const char* chosen,
                const Choice (&choices)[N]) {
    OutputFormat(c, 0, "%-23s: <select name=\"user_%s\">", Message(label, c.english), field);
    for (const Choice& choice : choices) {
        char upper[16];
        OutputFormat(c, 0, "<option value=\"%s\"%s>%s", choice.word,
                     strcmp(chosen, choice.word) == 0 ? " selected" : "",
                     ChoiceText(c, choice, upper, sizeof upper));
    }
    OutputText(c, "</select>\r\n", 0);
}

template <size_t N>
const char* TextOf(const Connection& c, const char* word, const Choice (&choices)[N], char* upper,
                   size_t size) {
    for (const Choice& choice : choices)
        if (strcmp(choice.word, word) == 0) return ChoiceText(c, choice, upper, size);
    return ChoiceText(c, choices[0], upper, size);
}

} // namespace

void fill_security_slots(Connection& c, const BasicSettings& b, const SettingsSet* set,
                         const char* owner) {
    const int bits = set ? set->mail_security : b.default_mail_security;
    const int auth = set ? set->smtp_auth : b.default_smtp_auth;
    set_slot(c, kSlotPop3Security, pop3_security_word(bits));
    set_slot(c, kSlotSmtpSecurity, smtp_security_word(bits));
    set_slot(c, kSlotSmtpAuth, auth != kSmtpAuthNone ? "1" : "");
    const std::string user =
        set && auth == kSmtpAuthOwnLogin
            ? data_store().credentials.get(owner, set->id, set->pop3_name, "smtp-user")
            : std::string();
    set_slot(c, kSlotSmtpUser, user.c_str());
    set_slot(c, kSlotSmtpPass, "");
}

void write_security_fields(Connection& c, const BasicSettings& b, bool changeable, bool verifyOff) {
    if (changeable) {
        // A registration page has empty slots: it offers what the
        // administrator chose for everybody.
        if (!c.formSlots[kSlotPop3Security][0]) fill_security_slots(c, b, nullptr);
        SelectLine(c, kMsgPop3Security, "pop3_security", c.formSlots[kSlotPop3Security],
                   kPop3Choices);
        SelectLine(c, kMsgSmtpSecurity, "smtp_security", c.formSlots[kSlotSmtpSecurity],
                   kSmtpChoices);
        OutputFormat(c, 0, "<input type=checkbox name=\"user_smtp_auth\"%s>%s\r\n",
                     slot_ticked(c, kSlotSmtpAuth) ? " checked" : "",
                     Message(kMsgSmtpAuth, c.english));
        // Some providers take another login for sending than for reading.
        OutputFormat(c, 0,
                     "%-23s: <input type=text name=\"user_smtp_user\" value=\"%s\" size=40 "
                     "maxlength=127>\r\n",
                     Message(kMsgSmtpUser, c.english),
                     MarkupEscape(c.formSlots[kSlotSmtpUser]).c_str());
        OutputFormat(c, 0,
                     "%-23s: <input type=password name=\"user_smtp_pass\" size=40 "
                     "maxlength=127> %s\r\n",
                     Message(kMsgSmtpPassword, c.english), Message(kMsgSmtpLoginHint, c.english));
    }
    if (verifyOff) OutputFormat(c, 0, "%s\r\n", Message(kMsgVerifyOff, c.english));
}

void apply_security_slots(const Connection& c, const BasicSettings& b, SettingsSet& s, bool newUser,
                          bool changeable) {
    if (newUser) {
        s.mail_security =
            b.default_mail_security & (kSecurityPop3Mask | kSecuritySmtpMask | kSecurityNoVerify);
        s.smtp_auth = b.default_smtp_auth;
    }
    if (!changeable) return;
    int pop3 = s.mail_security & kSecurityPop3Mask, smtp = s.mail_security & kSecuritySmtpMask;
    // A word the page never offers leaves the choice as it was.
    pop3_security_bits(c.formSlots[kSlotPop3Security], pop3);
    smtp_security_bits(c.formSlots[kSlotSmtpSecurity], smtp);
    change_set_security(s, pop3, smtp);
    s.smtp_auth = !slot_ticked(c, kSlotSmtpAuth)  ? kSmtpAuthNone
                  : c.formSlots[kSlotSmtpUser][0] ? kSmtpAuthOwnLogin
                                                  : kSmtpAuthPop3Login;
}

bool store_posted_smtp_login(const Connection& c, const UserRecord& r, int set) {
    const SettingsSet& s = r.set[set];
    MailCredentials& store = data_store().credentials;
    std::string why;
    if (s.smtp_auth != kSmtpAuthOwnLogin)
        return store.put(r.set[0].id, s.id, s.pop3_name, "smtp-user", "", why) &&
               store.put(r.set[0].id, s.id, s.pop3_name, "smtp-password", "", why);
    if (!store.put(r.set[0].id, s.id, s.pop3_name, "smtp-user", c.formSlots[kSlotSmtpUser], why))
        return false;
    // An empty password field keeps the one stored.
    return !c.formSlots[kSlotSmtpPass][0] ||
           store.put(r.set[0].id, s.id, s.pop3_name, "smtp-password", c.formSlots[kSlotSmtpPass],
                     why);
}

void write_security_result(Connection& c, const BasicSettings& b, const SettingsSet& s) {
    const MailSecurity m = mail_security_of(b, s);
    char upper[16];
    OutputFormat(c, 0, "%-23s: %s<br>", Message(kMsgPop3Security, c.english),
                 TextOf(c, pop3_security_word(s.mail_security), kPop3Choices, upper, sizeof upper));
    OutputFormat(c, 0, "%-23s: %s<br>", Message(kMsgSmtpSecurity, c.english),
                 TextOf(c, smtp_security_word(s.mail_security), kSmtpChoices, upper, sizeof upper));
    OutputFormat(c, 0, "%s: %s<br>", Message(kMsgSmtpAuth, c.english),
                 Message(m.smtpAuth ? kMsgUseWord : kMsgNotUseWord, c.english));
    if (m.smtpOwnLogin)
        OutputFormat(c, 0, "%-23s: %s<br>", Message(kMsgSmtpUser, c.english),
                     MarkupEscape(c.formSlots[kSlotSmtpUser]).c_str());
    if (!m.verify) OutputFormat(c, 0, "%s<br>", Message(kMsgVerifyOff, c.english));
    OutputText(c, "<br>", 0);
}
