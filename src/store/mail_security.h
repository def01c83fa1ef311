// How the gateway reaches a settings set's mail servers: plain or TLS, which
// ports, whether SMTP asks for authentication. Stored in a byte of the set
// (and of the basic settings for their own servers), so a data file written
// before these existed reads as plain POP3 and SMTP on the basic ports.
#pragma once
#include <cstdint>

struct BasicSettings;
struct SettingsSet;

enum : int {
    kSecurityPop3Mask = 0x03,
    kSecurityPop3Stls = 0x01, // STLS after the greeting, required
    kSecurityPop3Tls = 0x02,  // TLS from the first byte
    kSecuritySmtpMask = 0x0C,
    kSecuritySmtpStartTls = 0x04,
    kSecuritySmtpTls = 0x08,
    kSecurityNoVerify = 0x10, // the administrator allowed skipping certificate checks
    kSecurityOwnPorts = 0x20, // the set's own ports instead of the basic settings' ones
    // Logs in with SASL XOAUTH2 through a provider named in mail_credentials.
    kSecurityOAuth = 0x40,
    kSecurityBits = 0x7F,
};

enum : int {
    kSmtpAuthNone = 0,
    kSmtpAuthPop3Login = 1, // AUTH PLAIN or LOGIN with the set's POP3 user name and password
    kSmtpAuthOwnLogin = 2,  // the same with an SMTP login of the set's own (mail_credentials)
};

enum class Pop3Security : uint8_t { None, Stls, Tls };
enum class SmtpSecurity : uint8_t { None, StartTls, Tls };

struct MailSecurity {
    Pop3Security pop3 = Pop3Security::None;
    SmtpSecurity smtp = SmtpSecurity::None;
    bool verify = true;
    bool smtpAuth = false;
    bool smtpOwnLogin = false; // with the set's own SMTP login instead of the POP3 one
    int pop3Port = 110;
    int smtpPort = 25;
};

// What holds for set: with servers per user the set's own choice, else the
// basic settings' one for everybody.
MailSecurity mail_security_of(const BasicSettings& s, const SettingsSet& set);

// Sets the POP3 and SMTP security bits of set; a port of the set's own
// follows a changed security to that security's usual number.
void change_set_security(SettingsSet& set, int pop3Bits, int smtpBits);

// The usual port of each security: 110 or 995, 25, 587 or 465.
int default_pop3_port(Pop3Security p);
int default_smtp_port(SmtpSecurity p);

// The words the command line and the pages use for each choice.
const char* pop3_security_word(int bits);
const char* smtp_security_word(int bits);
// Turns a word back into its bits (within the mask); false for an unknown word.
bool pop3_security_bits(const char* word, int& bits);
bool smtp_security_bits(const char* word, int& bits);
