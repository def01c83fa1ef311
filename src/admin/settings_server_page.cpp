// `tarnbox settings server`: server names, ports, the top page, the
// gateway-wide switches, the mail header options and the sent-mail log.
#include "admin/settings_fields.h"
#include "admin/settings_page.h"
#include "base/console_text.h"
#include "store/mail_security.h"
#include <cstring>

namespace {

struct ServerPage {
    std::string smtp_server, pop3_server, top_page, http_port, smtp_port, pop3_port, language;
    std::string browser_registration, browser_auth, close_browser, remote_control;
    std::string per_user_servers, multiple_addresses, add_date, add_message_id;
    std::string log_size_kb, log_folder;
    std::string pop3_security, smtp_security, smtp_auth, verify;
};

const ListChoice kLanguages[] = {
    {"ja", "日本語"}, {"en", "英語"}, {"ja/en", "日本語/英語"}, {nullptr, nullptr}};

const ListChoice kPop3Security[] = {
    {"none", "なし"}, {"stls", "STLS"}, {"tls", "SSL/TLS (最初から)"}, {nullptr, nullptr}};
const ListChoice kSmtpSecurity[] = {
    {"none", "なし"}, {"starttls", "STARTTLS"}, {"tls", "SSL/TLS (最初から)"}, {nullptr, nullptr}};
const ListChoice kSmtpAuth[] = {
    {"none", "なし"}, {"pop3", "POP3のユーザー名とパスワード"}, {nullptr, nullptr}};

using C = PageControl<ServerPage>;
const std::vector<C> kControls = {
    {"smtp_server", "SMTPサーバー名(&S)", ControlKind::edit, &ServerPage::smtp_server, nullptr, 79},
    {"pop3_server", "POP3サーバー名(&P)", ControlKind::edit, &ServerPage::pop3_server, nullptr, 79},
    {"top_page", "Tarnのトップページ名(&T)", ControlKind::edit, &ServerPage::top_page, nullptr, 79},
    {"http_port", "HTTPポート番号(&H)", ControlKind::edit, &ServerPage::http_port, nullptr, 32},
    {"smtp_port", "SMTPポート番号(&M)", ControlKind::edit, &ServerPage::smtp_port, nullptr, 32},
    {"pop3_port", "POP3ポート番号(&O)", ControlKind::edit, &ServerPage::pop3_port, nullptr, 32},
    {"top_language", "トップページの言語(&L)", ControlKind::list, &ServerPage::language,
     kLanguages},
    {"browser_registration", "ブラウザ上からユーザーの追加ができるようにする(&N)", ControlKind::box,
     &ServerPage::browser_registration},
    {"browser_auth", "ブラウザの認証機構を使う(&A)", ControlKind::box, &ServerPage::browser_auth},
    {"close_browser", "読み書き終了でブラウザも終了(&JavaScript 使用)", ControlKind::box,
     &ServerPage::close_browser},
    {"remote_control", "遠隔操作を許可する(&R)", ControlKind::box, &ServerPage::remote_control},
    {"per_user_servers", "ユーザーごとにサーバーの指定ができるようにする(&E)", ControlKind::box,
     &ServerPage::per_user_servers},
    {"multiple_addresses", "複数のメールアドレスを設定可能にする(&U)", ControlKind::box,
     &ServerPage::multiple_addresses},
    {"add_date", "Dateフィールドを付加(&D)", ControlKind::box, &ServerPage::add_date},
    {"add_message_id", "Message-IDフィールドを付加(&E)", ControlKind::box,
     &ServerPage::add_message_id},
    {"log_size_kb", "送信ログサイズ(&X) KBytes", ControlKind::edit, &ServerPage::log_size_kb,
     nullptr, 32},
    {"log_folder", "ログを保存するフォルダ(&F)", ControlKind::edit, &ServerPage::log_folder,
     nullptr, 255},
    {"pop3_security", "POP3の暗号化", ControlKind::list, &ServerPage::pop3_security, kPop3Security},
    {"smtp_security", "SMTPの暗号化", ControlKind::list, &ServerPage::smtp_security, kSmtpSecurity},
    {"smtp_auth", "SMTP認証", ControlKind::list, &ServerPage::smtp_auth, kSmtpAuth},
    {"verify", "サーバー証明書を検証する", ControlKind::box, &ServerPage::verify},
};

struct Box {
    std::string ServerPage::*control;
    SettingBit bit;
};
const Box kBoxes[] = {
    {&ServerPage::browser_registration, {&BasicSettings::browser_registration, 0, true}},
    {&ServerPage::browser_auth, {&BasicSettings::browser_auth, 0, true}},
    {&ServerPage::close_browser, {&BasicSettings::close_browser, 0, true}},
    {&ServerPage::remote_control, {&BasicSettings::remote_control, 0, true}},
    {&ServerPage::per_user_servers, {&BasicSettings::per_user_servers, 0, true}},
    {&ServerPage::multiple_addresses, {&BasicSettings::multiple_addresses, 0, true}},
    {&ServerPage::add_date, {&BasicSettings::mail_options, kMailAddDate, true}},
    {&ServerPage::add_message_id, {&BasicSettings::mail_options, kMailAddMessageId, true}},
};

ServerPage Fill(const BasicSettings& s) {
    ServerPage p;
    p.smtp_server = sjis_to_utf8(s.smtp_server);
    p.pop3_server = sjis_to_utf8(s.pop3_server);
    p.top_page = sjis_to_utf8(s.top_page);
    p.http_port = port_text(s.http_port, "http", 80);
    p.smtp_port = port_text(s.smtp_port, "smtp", 25);
    p.pop3_port = port_text(s.pop3_port, "pop3", 110);
    const int language = s.language_policy & kLanguageTopMask;
    p.language = kLanguages[language >= 1 && language <= 3 ? language - 1 : 0].word;
    for (const Box& box : kBoxes) p.*box.control = box_text(read_bit(s, box.bit));
    p.log_size_kb = std::to_string(s.log_size_kb);
    p.log_folder = sjis_to_utf8(s.log_folder);
    p.pop3_security = pop3_security_word(s.default_mail_security);
    p.smtp_security = smtp_security_word(s.default_mail_security);
    p.smtp_auth = kSmtpAuth[s.default_smtp_auth == kSmtpAuthPop3Login ? 1 : 0].word;
    p.verify = box_text(!(s.default_mail_security & kSecurityNoVerify));
    return p;
}

// Several addresses per user only make sense while users name their own
// servers: the box goes off with the one it depends on and cannot be
// ticked alone.
//
// A port still on the usual number of one security follows the security
// when it changes, so choosing TLS does not leave POP3 knocking on 110.
void After(ServerPage& p, const std::string& name) {
    if (name == "per_user_servers" && !ticked(p.per_user_servers)) p.multiple_addresses = "off";
    int bits = 0;
    if (name == "pop3_security" && pop3_security_bits(p.pop3_security.c_str(), bits)) {
        const long port = port_from_text(p.pop3_port, "pop3", 110);
        if (port == 110 || port == 995)
            p.pop3_port =
                port_text(default_pop3_port(bits == kSecurityPop3Tls ? Pop3Security::Tls
                                                                     : Pop3Security::None),
                          "pop3", 110);
    }
    if (name == "smtp_security" && smtp_security_bits(p.smtp_security.c_str(), bits)) {
        const long port = port_from_text(p.smtp_port, "smtp", 25);
        const SmtpSecurity now = bits == kSecuritySmtpTls        ? SmtpSecurity::Tls
                                 : bits == kSecuritySmtpStartTls ? SmtpSecurity::StartTls
                                                                 : SmtpSecurity::None;
        if (port == 25 || port == 587 || port == 465)
            p.smtp_port = port_text(default_smtp_port(now), "smtp", 25);
    }
}

void Copy(char* dst, size_t size, const std::string& utf8) {
    const std::string sjis = edit_sjis(utf8);
    snprintf(dst, size, "%s", sjis.c_str());
}

std::string Apply(const ServerPage& p, BasicSettings& s) {
    if (ticked(p.multiple_addresses) && !ticked(p.per_user_servers))
        return "multiple_addresses: 「ユーザーごとにサーバーの指定ができるようにする」が"
               "オンのときだけ設定できます。";
    BasicSettings next = s;
    Copy(next.smtp_server, sizeof next.smtp_server, p.smtp_server);
    Copy(next.pop3_server, sizeof next.pop3_server, p.pop3_server);
    Copy(next.top_page, sizeof next.top_page, p.top_page);
    Copy(next.log_folder, sizeof next.log_folder, p.log_folder);
    std::string message = check_settings_lengths(next);
    if (!message.empty()) return message;

    const long http = port_from_text(p.http_port, "http", 80);
    if (http < 0) return "HTTPポートの名称が正しくありません。";
    const long smtp = port_from_text(p.smtp_port, "smtp", 25);
    if (smtp < 0) return "SMTPポートの名称が正しくありません。";
    const long pop3 = port_from_text(p.pop3_port, "pop3", 110);
    if (pop3 < 0) return "POP3ポートの名称が正しくありません。";

    // The field is read as a number; anything that is not one in range is
    // refused rather than stored as a wrapped or zero limit.
    long log_size = -1;
    if (!p.log_size_kb.empty() && p.log_size_kb.size() <= 6 &&
        p.log_size_kb.find_first_not_of("0123456789") == std::string::npos)
        log_size = std::stol(p.log_size_kb);
    if (log_size < 0 || log_size > 30000) return "送信ログサイズの上限値が大きすぎます。";

    next.http_port = static_cast<int>(http);
    next.smtp_port = static_cast<int>(smtp);
    next.pop3_port = static_cast<int>(pop3);
    next.log_size_kb = static_cast<int>(log_size);
    int pop3Bits = 0, smtpBits = 0;
    pop3_security_bits(p.pop3_security.c_str(), pop3Bits);
    smtp_security_bits(p.smtp_security.c_str(), smtpBits);
    next.default_mail_security = (next.default_mail_security & kSecurityOwnPorts) | pop3Bits |
                                 smtpBits | (ticked(p.verify) ? 0 : kSecurityNoVerify);
    next.default_smtp_auth = p.smtp_auth == "pop3" ? kSmtpAuthPop3Login : kSmtpAuthNone;
    for (const Box& box : kBoxes) write_bit(next, box.bit, ticked(p.*box.control));
    int language = 1;
    for (int i = 0; kLanguages[i].word; i++)
        if (p.language == kLanguages[i].word) language = i + 1;
    next.language_policy = (next.language_policy & ~kLanguageTopMask) | language;
    s = next;
    return {};
}

} // namespace

int admin_settings_server(AdminContext& ctx) {
    return run_settings_page<ServerPage>(ctx, kControls, Fill, Apply, After);
}
