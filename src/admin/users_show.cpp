// `tarnbox users show ID`: Settings 1 of one user as the change dialog shows
// it, one name=value line per field in the words `users change` takes,
// then the dialog's label. The password is never shown.
#include "admin/admin_context.h"
#include "admin/admin_output.h"
#include "base/console_text.h"
#include "mail/oauth/oauth_client.h"
#include "store/mail_security.h"

namespace {

std::string Line(const char* name, const std::string& value, const char* label) {
    std::string line = std::string(name) + "=" + value;
    line.append(line.size() < 28 ? 28 - line.size() : 1, ' ');
    return line + "# " + label;
}

std::string OnOff(int value) {
    return value ? "on" : "off";
}

} // namespace

int admin_users_show(AdminContext& ctx) {
    if (ctx.args.size() != 1 || ctx.args[0].rfind("--", 0) == 0)
        return admin_fail("使い方: tarnbox users show POP3ユーザー名");
    std::string id;
    if (!take_text("POP3ユーザー名", ctx.args[0], 39, id)) return 1;
    if (int r = open_store(ctx, false)) return r;
    const UserRecord* u = find_user(ctx.ds.users, id.c_str());
    if (!u) return admin_fail(ctx.args[0] + ": そのユーザーは登録されていません。");
    const BasicSettings& bs = ctx.ds.settings;
    const SettingsSet& s = u->set[0];
    // An empty server name means the default, as the dialog shows it; while
    // users may not name their own servers the defaults are used anyway.
    const char* note = bs.per_user_servers ? "" : " (基本設定のサーバーが使われます)";
    const std::string smtp = sjis_to_utf8(s.smtp_name[0] ? s.smtp_name : bs.smtp_server);
    const std::string pop3 = sjis_to_utf8(s.pop3_name[0] ? s.pop3_name : bs.pop3_server);
    admin_out(Line("name", sjis_to_utf8(s.name), "名前(&N)"));
    admin_out(Line("mail-address", sjis_to_utf8(s.mail_address), "メールアドレス(&M)"));
    admin_out(Line("id", sjis_to_utf8(s.id), "POP3ユーザー名(&U)"));
    admin_out(Line("smtp-server", smtp, "SMTPサーバー名(&S)") + note);
    admin_out(Line("pop3-server", pop3, "POP3サーバー名(&O)") + note);
    admin_out(Line("cc", OnOff(u->options[cc_flag]), "CC を入力可能にする(&C)"));
    admin_out(Line("bcc", OnOff(u->options[bcc_flag]), "BCC を入力可能にする(&B)"));
    admin_out(Line("apop", OnOff(s.apop_flag), "APOP を使用する(&A)"));
    // What the gateway will really do, which without per-user servers are
    // the administrator's choices.
    const MailSecurity m = mail_security_of(bs, s);
    const int bits = (m.pop3 == Pop3Security::Stls  ? kSecurityPop3Stls
                      : m.pop3 == Pop3Security::Tls ? kSecurityPop3Tls
                                                    : 0) |
                     (m.smtp == SmtpSecurity::StartTls ? kSecuritySmtpStartTls
                      : m.smtp == SmtpSecurity::Tls    ? kSecuritySmtpTls
                                                       : 0);
    const char* defaults = bs.per_user_servers ? "" : " (基本設定の値が使われます)";
    admin_out(Line("pop3-security", pop3_security_word(bits), "POP3の暗号化") + defaults);
    admin_out(Line("pop3-port", std::to_string(m.pop3Port), "POP3ポート番号") + defaults);
    admin_out(Line("smtp-security", smtp_security_word(bits), "SMTPの暗号化") + defaults);
    admin_out(Line("smtp-port", std::to_string(m.smtpPort), "SMTPポート番号") + defaults);
    admin_out(Line("smtp-auth",
                   m.smtpOwnLogin ? "own"
                   : m.smtpAuth   ? "pop3"
                                  : "none",
                   "SMTP認証 (pop3: POP3のユーザー名とパスワード、own: SMTP専用のログイン)") +
              defaults);
    if (m.smtpOwnLogin) {
        const std::string user = ctx.ds.credentials.get(s.id, s.id, s.pop3_name, "smtp-user");
        admin_out(Line("smtp-user", user.empty() ? "(POP3のユーザー名)" : user, "SMTPユーザー名"));
    }
    admin_out(Line("verify", OnOff(m.verify), "サーバー証明書を検証する") + defaults);
    if (s.mail_security & kSecurityOAuth) {
        const MailCredentials& store = ctx.ds.credentials;
        const bool connected = !store.get(s.id, s.id, s.pop3_name, kOAuthRefreshName).empty();
        admin_out(Line("oauth", store.get(s.id, s.id, s.pop3_name, kOAuthProviderName),
                       "OAuth2 (XOAUTH2) のプロバイダー") +
                  (connected ? " (連携済み)" : " (未連携: 利用者が設定ページで連携します)"));
    } else {
        admin_out(Line("oauth", "off", "OAuth2 (XOAUTH2) のプロバイダー"));
    }
    return 0;
}
