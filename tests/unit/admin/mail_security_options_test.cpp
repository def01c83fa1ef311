#include "admin/mail_security_options.h"
#include "admin/users_import.h"
#include "store/basic_settings.h"
#include "store/mail_security.h"
#include "store/user_record.h"

#include <cstring>
#include <gtest/gtest.h>

namespace {

SecurityInput parse(std::vector<std::string> args) {
    SecurityInput in;
    for (size_t i = 0; i < args.size(); i++) EXPECT_EQ(take_security_option(args, i, in), 1);
    return in;
}

struct Case {
    const char* what;
    std::vector<std::string> first, then; // two changes one after the other
    Pop3Security pop3;
    int pop3Port;
    SmtpSecurity smtp;
    int smtpPort;
    bool auth, verify;
};

// The administrator's plain ports are not the usual ones, so a test can
// tell them from a fallback.
const Case kCases[] = {
    {"nothing given keeps the administrator's plain ports",
     {},
     {},
     Pop3Security::None,
     1110,
     SmtpSecurity::None,
     2525,
     false,
     true},
    {"TLS without a port takes the usual ones",
     {"--pop3-security", "tls", "--smtp-security", "tls"},
     {},
     Pop3Security::Tls,
     995,
     SmtpSecurity::Tls,
     465,
     false,
     true},
    {"one own port keeps the other where it was",
     {"--smtp-security", "starttls", "--smtp-port", "10587"},
     {},
     Pop3Security::None,
     1110,
     SmtpSecurity::StartTls,
     10587,
     false,
     true},
    {"a later security change moves an own port to its usual number",
     {"--pop3-port", "10995", "--pop3-security", "tls"},
     {"--pop3-security", "stls"},
     Pop3Security::Stls,
     110,
     SmtpSecurity::None,
     2525,
     false,
     true},
    {"an own port given with the change wins",
     {"--pop3-security", "tls"},
     {"--pop3-security", "none", "--pop3-port", "1234"},
     Pop3Security::None,
     1234,
     SmtpSecurity::None,
     2525,
     false,
     true},
    {"authentication and verification are their own switches",
     {"--smtp-auth", "pop3", "--verify", "off"},
     {"--verify", "on"},
     Pop3Security::None,
     1110,
     SmtpSecurity::None,
     2525,
     true,
     true},
};

TEST(MailSecurityOptions, ChangesLandInTheSetAndReadBackAsMeant) {
    BasicSettings bs{};
    bs.per_user_servers = 1;
    bs.pop3_port = 1110;
    bs.smtp_port = 2525;
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.what);
        SettingsSet set{};
        start_security_from_defaults(bs, set);
        apply_security(parse(c.first), bs, set);
        apply_security(parse(c.then), bs, set);
        const MailSecurity m = mail_security_of(bs, set);
        EXPECT_EQ(m.pop3, c.pop3);
        EXPECT_EQ(m.pop3Port, c.pop3Port);
        EXPECT_EQ(m.smtp, c.smtp);
        EXPECT_EQ(m.smtpPort, c.smtpPort);
        EXPECT_EQ(m.smtpAuth, c.auth);
        EXPECT_EQ(m.verify, c.verify);
    }
}

TEST(MailSecurityOptions, WithoutServersPerUserTheAdministratorsChoiceHolds) {
    BasicSettings bs{};
    bs.pop3_port = 995;
    bs.smtp_port = 587;
    bs.default_mail_security = kSecurityPop3Tls | kSecuritySmtpStartTls;
    bs.default_smtp_auth = kSmtpAuthPop3Login;
    SettingsSet set{};
    set.mail_security =
        kSecurityNoVerify | kSecurityOwnPorts; // left from a time with per-user servers
    set.pop3_port = 110;
    const MailSecurity m = mail_security_of(bs, set);
    EXPECT_EQ(m.pop3, Pop3Security::Tls);
    EXPECT_EQ(m.pop3Port, 995);
    EXPECT_EQ(m.smtp, SmtpSecurity::StartTls);
    EXPECT_EQ(m.smtpPort, 587);
    EXPECT_TRUE(m.smtpAuth);
    EXPECT_TRUE(m.verify);

    // A new set starts from the same choice, so ticking per-user servers later
    // does not quietly turn it to plain text.
    SettingsSet fresh{};
    start_security_from_defaults(bs, fresh);
    bs.per_user_servers = 1;
    EXPECT_EQ(mail_security_of(bs, fresh).pop3, Pop3Security::Tls);
    EXPECT_TRUE(mail_security_of(bs, fresh).smtpAuth);
}

TEST(MailSecurityOptions, RefusedValuesSayWhy) {
    SecurityInput in;
    for (auto [flag, value] :
         std::vector<std::pair<const char*, const char*>>{{"--pop3-security", "ssl"},
                                                          {"--smtp-security", "stls"},
                                                          {"--smtp-auth", "plain"},
                                                          {"--pop3-port", "0"},
                                                          {"--smtp-port", "65536"},
                                                          {"--smtp-port", "25x"},
                                                          {"--verify", "yes"}})
        EXPECT_NE(take_security_value(flag, value, in), "") << flag << " " << value;
    EXPECT_FALSE(in.any());
}

TEST(MailSecurityOptions, ImportTakesTheColumnsAfterApopAndRefusesUnknownWords) {
    DataStore ds;
    ds.settings.per_user_servers = 1;
    strcpy(ds.settings.smtp_server, "smtp.example.jp");
    strcpy(ds.settings.pop3_server, "pop.example.jp");
    CsvText text;
    text.lines = {"A,a@b.c,a,pw,,,,,,TLS,starttls,pop3,,,off", "B,b@b.c,b,pw,,,,,,ssl",
                  "C,c@b.c,c,pw"};
    text.broken.assign(text.lines.size(), false);
    std::vector<std::string> said;
    const ImportTally t =
        import_user_lines(ds, text, [&](const std::string& m) { said.push_back(m); });
    EXPECT_EQ(t.registered, 2);
    EXPECT_EQ(t.refused, 1);
    const MailSecurity a = mail_security_of(ds.settings, find_user(ds.users, "a")->set[0]);
    EXPECT_EQ(a.pop3, Pop3Security::Tls);
    EXPECT_EQ(a.smtp, SmtpSecurity::StartTls);
    EXPECT_EQ(a.smtpPort, 587);
    EXPECT_TRUE(a.smtpAuth);
    EXPECT_FALSE(a.verify);
    EXPECT_EQ(find_user(ds.users, "b"), nullptr);
    EXPECT_EQ(mail_security_of(ds.settings, find_user(ds.users, "c")->set[0]).pop3,
              Pop3Security::None);
    clear_users(ds.users);
}

} // namespace
