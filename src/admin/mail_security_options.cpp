#include "admin/mail_security_options.h"

#include "admin/admin_context.h"
#include "mail/oauth/oauth_client.h"
#include "store/basic_settings.h"
#include "store/data_file.h"
#include "store/mail_security.h"
#include "store/oauth_providers.h"
#include "store/user_record.h"

#include <fstream>

namespace {

// A login travels on one protocol line: nothing that could end it.
bool login_text(const std::string& text) {
    if (text.empty() || text.size() > 127) return false;
    for (unsigned char c : text)
        if (c < 0x20 || c == 0x7F) return false;
    return true;
}

bool take_port(const std::string& text, int& port) {
    if (text.empty() || text.size() > 5 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    port = std::stoi(text);
    return port >= 1 && port <= 65535;
}

// The ports the set uses now, as if it had no own ports yet.
MailSecurity effective(const BasicSettings& bs, const SettingsSet& set) {
    BasicSettings perUser = bs;
    perUser.per_user_servers = 1;
    return mail_security_of(perUser, set);
}

} // namespace

const char* const kSecurityUsage =
    "[--pop3-security none|stls|tls] [--smtp-security none|starttls|tls] "
    "[--smtp-auth none|pop3|own] [--smtp-user U] [--smtp-password P | --smtp-password-file F] "
    "[--pop3-port N] [--smtp-port N] [--verify on|off] [--oauth NAME|off]";

const char* const kSecurityNotPerUser =
    "ユーザーごとのサーバー指定が許可されていないため、接続の暗号化、SMTP認証とポートは"
    "基本設定 (tarnbox settings server) で指定してください。";

bool SecurityInput::any() const {
    return pop3Bits || smtpBits || smtpAuth || pop3Port || smtpPort || verify || smtpUser ||
           smtpPassword;
}

bool is_security_option(const std::string& flag) {
    for (const char* o :
         {"--pop3-security", "--smtp-security", "--smtp-auth", "--pop3-port", "--smtp-port",
          "--verify", "--smtp-user", "--smtp-password", "--smtp-password-file", "--oauth"})
        if (flag == o) return true;
    return false;
}

std::string take_security_value(const std::string& flag, const std::string& value,
                                SecurityInput& in) {
    int n = 0;
    if (flag == "--pop3-security") {
        if (!pop3_security_bits(value.c_str(), n))
            return "--pop3-security には none、stls、tls のどれかを指定してください。";
        in.pop3Bits = n;
    } else if (flag == "--smtp-security") {
        if (!smtp_security_bits(value.c_str(), n))
            return "--smtp-security には none、starttls、tls のどれかを指定してください。";
        in.smtpBits = n;
    } else if (flag == "--smtp-auth") {
        if (value != "none" && value != "pop3" && value != "own")
            return "--smtp-auth には none、pop3、own のどれかを指定してください。";
        in.smtpAuth = value == "pop3"  ? kSmtpAuthPop3Login
                      : value == "own" ? kSmtpAuthOwnLogin
                                       : kSmtpAuthNone;
    } else if (flag == "--smtp-user") {
        if (!login_text(value))
            return "--smtp-user には 127 "
                   "バイトまでの、改行や制御文字を含まない名前を指定してください。";
        in.smtpUser = value;
    } else if (flag == "--smtp-password" || flag == "--smtp-password-file") {
        std::string password = value;
        if (flag == "--smtp-password-file") {
            std::ifstream file(value);
            if (!file || !std::getline(file, password)) return value + ": ファイルを読めません。";
            if (!password.empty() && password.back() == '\r') password.pop_back();
        }
        if (!login_text(password))
            return flag +
                   " には 127 バイトまでの、改行や制御文字を含まないパスワードを指定してください。";
        in.smtpPassword = password;
    } else if (flag == "--oauth") {
        if (value != "off" && !oauth_provider_name_valid(value))
            return "--oauth には oauth provider で登録したプロバイダー名か off "
                   "を指定してください。";
        in.oauth = value == "off" ? "" : value;
    } else if (flag == "--verify") {
        if (value != "on" && value != "off") return "--verify には on か off を指定してください。";
        in.verify = value == "on";
    } else {
        if (!take_port(value, n))
            return flag + " には 1 から 65535 までのポート番号を指定してください。";
        (flag == "--pop3-port" ? in.pop3Port : in.smtpPort) = n;
    }
    return {};
}

int take_security_option(const std::vector<std::string>& args, size_t& i, SecurityInput& in) {
    if (!is_security_option(args[i])) return 0;
    if (i + 1 >= args.size()) {
        admin_fail(args[i] + ": 値がありません。");
        return -1;
    }
    const std::string flag = args[i];
    const std::string refusal = take_security_value(flag, args[++i], in);
    if (refusal.empty()) return 1;
    admin_fail(refusal);
    return -1;
}

void start_security_from_defaults(const BasicSettings& bs, SettingsSet& set) {
    set.mail_security =
        bs.default_mail_security & (kSecurityPop3Mask | kSecuritySmtpMask | kSecurityNoVerify);
    set.smtp_auth = bs.default_smtp_auth;
}

void apply_security(const SecurityInput& in, const BasicSettings& bs, SettingsSet& set) {
    int bits = set.mail_security & kSecurityBits;
    if (in.pop3Bits) bits = (bits & ~kSecurityPop3Mask) | *in.pop3Bits;
    if (in.smtpBits) bits = (bits & ~kSecuritySmtpMask) | *in.smtpBits;
    if (in.verify) bits = *in.verify ? bits & ~kSecurityNoVerify : bits | kSecurityNoVerify;
    if (in.oauth) bits = in.oauth->empty() ? bits & ~kSecurityOAuth : bits | kSecurityOAuth;
    SettingsSet next = set;
    next.mail_security = bits;
    const MailSecurity m = effective(bs, next);
    if (bits & kSecurityOwnPorts) {
        if (in.pop3Bits && !in.pop3Port) next.pop3_port = default_pop3_port(m.pop3);
        if (in.smtpBits && !in.smtpPort) next.smtp_port = default_smtp_port(m.smtp);
    } else if (in.pop3Port || in.smtpPort) {
        next.pop3_port = m.pop3Port;
        next.smtp_port = m.smtpPort;
        next.mail_security = bits | kSecurityOwnPorts;
    }
    if (in.pop3Port) next.pop3_port = *in.pop3Port;
    if (in.smtpPort) next.smtp_port = *in.smtpPort;
    if (in.smtpAuth)
        next.smtp_auth = *in.smtpAuth;
    else if (in.smtpUser)
        next.smtp_auth = kSmtpAuthOwnLogin; // a login of its own is given to be used
    set = next;
}

int check_oauth_provider(const std::string& home, const SecurityInput& in) {
    if (!in.oauth || in.oauth->empty() || find_oauth_provider(home, *in.oauth)) return 0;
    return admin_fail("OAuth2 プロバイダー " + *in.oauth +
                      " は登録されていません (tarnbox oauth provider で登録してください)。");
}

bool save_smtp_login(DataStore& ds, const UserRecord& r, int set, const SecurityInput& in,
                     std::string& why) {
    const SettingsSet& s = r.set[set];
    MailCredentials& store = ds.credentials;
    if (in.smtpUser && !store.put(r.set[0].id, s.id, s.pop3_name, "smtp-user", *in.smtpUser, why))
        return false;
    if (in.oauth) {
        // Tokens of another provider, or of one turned off, are of no use
        // any more and must not outlive the choice.
        if (store.get(r.set[0].id, s.id, s.pop3_name, kOAuthProviderName) != *in.oauth)
            for (const char* name : {kOAuthRefreshName, kOAuthAccessName, kOAuthExpiryName})
                if (!store.put(r.set[0].id, s.id, s.pop3_name, name, "", why)) return false;
        if (!store.put(r.set[0].id, s.id, s.pop3_name, kOAuthProviderName, *in.oauth, why))
            return false;
    }
    return !in.smtpPassword ||
           store.put(r.set[0].id, s.id, s.pop3_name, "smtp-password", *in.smtpPassword, why);
}
