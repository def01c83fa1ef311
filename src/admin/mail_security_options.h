// The options of `users add` and `users change` that say how a settings
// set reaches its mail servers: TLS for POP3 and SMTP, SMTP authentication,
// the set's own ports and whether certificates are checked.
#pragma once
#include <optional>
#include <string>
#include <vector>

struct BasicSettings;
struct SettingsSet;

struct SecurityInput {
    std::optional<int> pop3Bits, smtpBits; // within their kSecurity* masks
    std::optional<int> smtpAuth;           // kSmtpAuth*
    std::optional<int> pop3Port, smtpPort;
    std::optional<bool> verify;
    // The set's own SMTP login (kSmtpAuthOwnLogin), kept in the credentials.
    std::optional<std::string> smtpUser, smtpPassword;
    // A provider name for XOAUTH2 logins, or "" for off. Not counted by
    // any(): it names the mailbox's provider, which holds whoever chose the
    // servers.
    std::optional<std::string> oauth;
    bool any() const;
};

extern const char* const kSecurityUsage;
extern const char* const kSecurityNotPerUser;

bool is_security_option(const std::string& flag);
// Takes the value of one of these options; "" or why it was refused.
std::string take_security_value(const std::string& flag, const std::string& value,
                                SecurityInput& in);

// When args[i] is one of these options, takes it and its value (moving i
// on) and returns 1; 0 when it is not one of them; -1 after printing why
// the value was refused.
int take_security_option(const std::vector<std::string>& args, size_t& i, SecurityInput& in);

// A new set starts with what the administrator chose for everybody.
void start_security_from_defaults(const BasicSettings& bs, SettingsSet& set);

// Changes what in names. A port given alone keeps the other one where it
// was; a security changed without a port moves an own port to the usual
// one of the new security.
void apply_security(const SecurityInput& in, const BasicSettings& bs, SettingsSet& set);

struct DataStore;
struct UserRecord;
// 0 when --oauth names a registered provider of home (or was not given),
// else a failure status after saying why.
int check_oauth_provider(const std::string& home, const SecurityInput& in);
// Stores the SMTP login and the OAuth2 provider given for set of r. True
// when none was given.
bool save_smtp_login(DataStore& ds, const UserRecord& r, int set, const SecurityInput& in,
                     std::string& why);
