#include "store/mail_security.h"

#include "store/basic_settings.h"
#include "store/user_record.h"
#include <cstring>

namespace {

int valid_port(int port, int fallback) {
    return port > 0 && port <= 65535 ? port : fallback;
}

Pop3Security pop3_of(int bits) {
    switch (bits & kSecurityPop3Mask) {
    case kSecurityPop3Stls:
        return Pop3Security::Stls;
    case kSecurityPop3Tls:
        return Pop3Security::Tls;
    default:
        return Pop3Security::None;
    }
}

SmtpSecurity smtp_of(int bits) {
    switch (bits & kSecuritySmtpMask) {
    case kSecuritySmtpStartTls:
        return SmtpSecurity::StartTls;
    case kSecuritySmtpTls:
        return SmtpSecurity::Tls;
    default:
        return SmtpSecurity::None;
    }
}

struct Word {
    const char* word;
    int bits;
};
constexpr Word kPop3Words[] = {{"none", 0}, {"stls", kSecurityPop3Stls}, {"tls", kSecurityPop3Tls}};
constexpr Word kSmtpWords[] = {
    {"none", 0}, {"starttls", kSecuritySmtpStartTls}, {"tls", kSecuritySmtpTls}};

template <size_t N> const char* word_of(const Word (&words)[N], int bits) {
    for (const Word& w : words)
        if (w.bits == bits) return w.word;
    return words[0].word;
}

template <size_t N> bool bits_of(const Word (&words)[N], const char* word, int& bits) {
    for (const Word& w : words)
        if (strcmp(w.word, word) == 0) {
            bits = w.bits;
            return true;
        }
    return false;
}

} // namespace

MailSecurity mail_security_of(const BasicSettings& s, const SettingsSet& set) {
    const bool own = s.per_user_servers != 0;
    const int bits = own ? set.mail_security : s.default_mail_security;
    MailSecurity m;
    m.pop3 = pop3_of(bits);
    m.smtp = smtp_of(bits);
    m.verify = !(bits & kSecurityNoVerify);
    m.smtpAuth = (own ? set.smtp_auth : s.default_smtp_auth) == kSmtpAuthPop3Login;
    m.pop3Port = valid_port(s.pop3_port, 110);
    m.smtpPort = valid_port(s.smtp_port, 25);
    if (own && (bits & kSecurityOwnPorts)) {
        m.pop3Port = valid_port(set.pop3_port, default_pop3_port(m.pop3));
        m.smtpPort = valid_port(set.smtp_port, default_smtp_port(m.smtp));
    } else if (own) {
        // A set that asks for TLS of its own cannot mean the administrator's
        // plain ports: it gets the usual port of what it chose.
        if (m.pop3 != Pop3Security::None) m.pop3Port = default_pop3_port(m.pop3);
        if (m.smtp != SmtpSecurity::None) m.smtpPort = default_smtp_port(m.smtp);
    }
    return m;
}

void change_set_security(SettingsSet& set, int pop3Bits, int smtpBits) {
    const int before = set.mail_security;
    set.mail_security = (before & ~(kSecurityPop3Mask | kSecuritySmtpMask)) |
                        (pop3Bits & kSecurityPop3Mask) | (smtpBits & kSecuritySmtpMask);
    if (!(before & kSecurityOwnPorts)) return;
    if ((before ^ set.mail_security) & kSecurityPop3Mask)
        set.pop3_port = default_pop3_port(pop3_of(set.mail_security));
    if ((before ^ set.mail_security) & kSecuritySmtpMask)
        set.smtp_port = default_smtp_port(smtp_of(set.mail_security));
}

int default_pop3_port(Pop3Security p) {
    return p == Pop3Security::Tls ? 995 : 110;
}

int default_smtp_port(SmtpSecurity p) {
    return p == SmtpSecurity::Tls ? 465 : p == SmtpSecurity::StartTls ? 587 : 25;
}

const char* pop3_security_word(int bits) {
    return word_of(kPop3Words, bits & kSecurityPop3Mask);
}

const char* smtp_security_word(int bits) {
    return word_of(kSmtpWords, bits & kSecuritySmtpMask);
}

bool pop3_security_bits(const char* word, int& bits) {
    return bits_of(kPop3Words, word, bits);
}

bool smtp_security_bits(const char* word, int& bits) {
    return bits_of(kSmtpWords, word, bits);
}
