#include "admin/mail_security_options.h"
#include "mail/pop3/pop3_state.h"
#include "store/basic_settings.h"
#include "store/mail_security.h"
#include "store/user_record.h"

#include <cstring>
#include <sstream>

#include "server/server_cases.h"

namespace {

// The options of a case field, apart by blanks.
SecurityInput parse(const std::string& field) {
    std::vector<std::string> args;
    std::istringstream words(field);
    for (std::string w; words >> w;) args.push_back(w);
    SecurityInput in;
    for (size_t i = 0; i < args.size(); i++) EXPECT_EQ(take_security_option(args, i, in), 1);
    return in;
}

// What a set reads back as, in the words of the case file.
std::string Described(const MailSecurity& m) {
    static const char* const kPop3[] = {"none", "stls", "tls"};
    static const char* const kSmtp[] = {"none", "starttls", "tls"};
    std::ostringstream s;
    s << kPop3[static_cast<int>(m.pop3)] << " " << m.pop3Port << " "
      << kSmtp[static_cast<int>(m.smtp)] << " " << m.smtpPort << " " << m.smtpAuth << " "
      << m.verify;
    return s.str();
}

TEST(MailSecurityOptions, ChangesLandInTheSetAndReadBackAsMeant) {
    BasicSettings bs{};
    bs.per_user_servers = 1;
    bs.pop3_port = 1110;
    bs.smtp_port = 2525;
    for (const auto& c : SERVER_CASES("security_changes.ref")) {
        SCOPED_TRACE(c.at(0));
        SettingsSet set{};
        start_security_from_defaults(bs, set);
        apply_security(parse(c.at(1)), bs, set);
        apply_security(parse(c.at(2)), bs, set);
        EXPECT_EQ(Described(mail_security_of(bs, set)), c.at(3));
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
    EXPECT_EQ(Described(mail_security_of(bs, set)), "tls 995 starttls 587 1 1");

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
    for (const auto& c : SERVER_CASES("refused_security_values.ref"))
        EXPECT_NE(take_security_value(c.at(0), c.at(1), in), "") << c.at(0);
    EXPECT_FALSE(in.any());
}

} // namespace
