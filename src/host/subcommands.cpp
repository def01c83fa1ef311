#include "host/subcommands.h"
#include "admin/settings_page.h"

#include <cstdio>
#include <cstring>

namespace {

const Subcommand kSubcommands[] = {
    {"serve", nullptr, nullptr,
     "serve [--worker-timeout S] [--idle-timeout S] [--request-timeout S] [--max-connections N] "
     "[--listen ADDRESS] [--https-listen ADDRESS:PORT [--https-redirect]] "
     "[--trusted-proxy ADDRESS]..."},
    {"init", nullptr, admin_init,
     "init [--http-port P] [--smtp-server H] [--smtp-port P] [--pop3-server H] [--pop3-port P]"},
    {"settings", "show", admin_settings_show, "settings show"},
    {"settings", "set", admin_settings_set, "settings set name=value ..."},
    {"settings", "addresses", admin_settings_addresses, "settings addresses"},
    {"settings", "server", admin_settings_server, "settings server [name=value ...]"},
    {"settings", "colours", admin_settings_colours, "settings colours [name=value ...]"},
    {"settings", "permissions", admin_settings_permissions,
     "settings permissions [name=value ...]"},
    // After every verb of its own, so that only `settings` alone lands here.
    {"settings", nullptr, admin_settings_sheet, "settings"},
    {"users", "list", admin_users_list, "users list [--sort name|address|id]"},
    {"users", "show", admin_users_show, "users show U"},
    {"users", "add", admin_users_add,
     "users add --name N --mail-address M --id U [--password [P] | --password-file F | "
     "--password-stdin] [--smtp-server H] [--pop3-server H] [--cc] [--bcc] [--apop] "
     "[--pop3-security none|stls|tls] [--smtp-security none|starttls|tls] "
     "[--smtp-auth none|pop3|own] [--smtp-user U] [--smtp-password P | --smtp-password-file F] "
     "[--pop3-port N] [--smtp-port N] [--verify on|off] [--oauth NAME|off]"},
    {"users", "change", admin_users_change,
     "users change U [--id NEWID] [--name N] [--mail-address M] [--password [P] | "
     "--password-file F | --password-stdin] [--smtp-server H] [--pop3-server H] "
     "[--cc on|off] [--bcc on|off] [--apop on|off] [--poppassd] "
     "[--pop3-security none|stls|tls] [--smtp-security none|starttls|tls] "
     "[--smtp-auth none|pop3|own] [--smtp-user U] [--smtp-password P | --smtp-password-file F] "
     "[--pop3-port N] [--smtp-port N] [--verify on|off] [--oauth NAME|off]"},
    {"users", "delete", admin_users_delete, "users delete [--yes] U..."},
    {"users", "import", admin_users_import, "users import FILE"},
    {"users", "select", admin_users_select, "users select FILE"},
    {"admin-password", nullptr, admin_password, "admin-password"},
    {"shared-book", "list", admin_shared_book_list, "shared-book list"},
    {"shared-book", "add", admin_shared_book_add, "shared-book add [--name N] --mail-address M"},
    {"shared-book", "up", admin_shared_book_up, "shared-book up N"},
    {"shared-book", "down", admin_shared_book_down, "shared-book down N"},
    {"shared-book", "delete", admin_shared_book_delete, "shared-book delete N"},
    {"shared-book", "sort", admin_shared_book_sort, "shared-book sort name|address"},
    {"oauth", "provider", admin_oauth_provider,
     "oauth provider NAME [--preset google|microsoft] [--client-id ID] [--client-secret-file F] "
     "[--auth-url U] [--token-url U] [--scope S] [--redirect-url U]"},
    {"oauth", "show", admin_oauth_show, "oauth show"},
    {"oauth", "remove", admin_oauth_remove, "oauth remove NAME"},
    {"service", "install", admin_service_install,
     "service install [--unit-dir DIR] [--user NAME] [--https-listen ADDRESS:PORT]"},
    {"service", "remove", admin_service_remove, "service remove [--unit-dir DIR]"},
    {"service", "start", admin_service_start, "service start"},
    {"service", "status", admin_service_status, "service status"},
    {"https", "self-signed", admin_https_self_signed,
     "https self-signed --name HOST [--name HOST...] [--days N] [--force]"},
    {"stop", nullptr, admin_stop, "stop"},
};

// One line per command for `tarnbox help`: the administrator's menu.
struct About {
    const char* name;
    const char* verb;
    const char* text;
};

const About kAbout[] = {
    {"serve", nullptr, "ゲートウェイを起動します (SIGTERM か SIGINT で終了)。"},
    {"init", nullptr, "ホームにデータファイルを作ります。"},
    {"settings", nullptr, "基本設定の三つのページをすべて表示します。"},
    {"settings", "show", "基本設定をデータファイルの項目のまま表示します。"},
    {"settings", "set", "基本設定をデータファイルの項目のまま変更します。"},
    {"settings", "addresses", "ブラウザ上で入力するアドレスを表示します。"},
    {"settings", "server",
     "基本設定「サーバー」: 表示するか、name=value で変更します (ポートはサービス名でも)。"},
    {"settings", "colours", "基本設定「配色」: 表示するか、name=value で変更します。"},
    {"settings", "permissions", "基本設定「変更許可」: 表示するか、name=value で変更します。"},
    {"users", "list", "ユーザーの一覧を表示します。"},
    {"users", "show", "ユーザーの設定1を表示します (パスワードは表示しません)。"},
    {"users", "add",
     "ユーザーを登録します (パスワードは端末で二回、またはファイルか標準入力から)。"},
    {"users", "change",
     "ユーザーの設定1 (POP3ユーザー名、CC/BCC も) を変更します "
     "(--poppassd でメールサーバーのパスワードも)。"},
    {"users", "delete", "ユーザーを削除します (端末では一人ずつ確認します)。"},
    {"users", "import", "ファイルからユーザーを一括登録します。"},
    {"users", "select", "ファイルで選んだユーザーの POP3 ユーザー名を表示します。"},
    {"admin-password", nullptr, "管理者パスワードを設定・変更・削除します。"},
    {"shared-book", "list", "共有アドレス帳を表示します。"},
    {"shared-book", "add", "共有アドレス帳に追加します。"},
    {"shared-book", "up", "共有アドレス帳の N 番目を一つ上へ移します。"},
    {"shared-book", "down", "共有アドレス帳の N 番目を一つ下へ移します。"},
    {"shared-book", "delete", "共有アドレス帳の N 番目を削除します。"},
    {"shared-book", "sort", "共有アドレス帳を名前かアドレスの順に並べます。"},
    {"oauth", "provider",
     "OAuth2 プロバイダー (XOAUTH2 でログインするメールサーバー用) を登録・変更します。"},
    {"oauth", "show", "OAuth2 プロバイダーを表示します (クライアントシークレットは表示しません)。"},
    {"oauth", "remove", "OAuth2 プロバイダーを削除します。"},
    {"service", "install", "サービス登録: systemd のユニットを書き込み、有効にします。"},
    {"service", "remove", "サービス削除: サービスを止めてユニットを削除します。"},
    {"service", "start", "サービスを開始します。"},
    {"service", "status", "サービスの状態を表示します。"},
    {"https", "self-signed", "HTTPS を試すための自己署名の証明書と秘密鍵をホームに作ります。"},
    {"stop", nullptr, "動作中のゲートウェイを停止します。"},
};

const char* about(const Subcommand& c) {
    for (const auto& a : kAbout)
        if (!strcmp(a.name, c.name) &&
            (a.verb == c.verb || (a.verb && c.verb && !strcmp(a.verb, c.verb))))
            return a.text;
    return nullptr;
}

} // namespace

// Commands that change the gateway's configuration ask for the
// administrator password first, when one is set.
bool subcommand_guarded(const Subcommand& c) {
    const char* name = c.name;
    const std::string n = name;
    return n == "settings" || n == "users" || n == "shared-book" || n == "service" || n == "stop" ||
           n == "https" || (n == "oauth" && c.verb && strcmp(c.verb, "show") != 0);
}

bool subcommand_forwarded(const Subcommand& c) {
    const std::string n = c.name;
    const std::string v = c.verb ? c.verb : "";
    if (n == "settings") return v != "show" && v != "addresses";
    if (n == "users") return v == "add" || v == "import" || v == "change" || v == "delete";
    if (n == "shared-book") return v != "list";
    return n == "admin-password" || n == "stop";
}

bool subcommand_locks_itself(const Subcommand& c) {
    return !strcmp(c.name, "users") && c.verb &&
           (!strcmp(c.verb, "change") || !strcmp(c.verb, "delete"));
}

const Subcommand* find_subcommand(const std::vector<std::string>& words, size_t at, size_t& first) {
    if (at >= words.size()) return nullptr;
    for (const auto& c : kSubcommands) {
        if (words[at] != c.name) continue;
        first = at + 1;
        if (c.verb) {
            if (first >= words.size() || words[first] != c.verb) continue;
            first++;
        }
        return &c;
    }
    return nullptr;
}

int print_usage(FILE* out) {
    fprintf(out, "usage: tarnbox [--home DIR] [--admin-password-file FILE] COMMAND\n       tarnbox "
                 "--version\ncommands:\n");
    for (const auto& c : kSubcommands) fprintf(out, "  %s\n", c.usage);
    return out == stdout ? 0 : 2;
}

int print_help() {
    printf("usage: tarnbox [--home DIR] [--admin-password-file FILE] COMMAND\n\n");
    for (const auto& c : kSubcommands) {
        printf("  %s\n", c.usage);
        if (const char* text = about(c)) printf("      %s\n", text);
    }
    printf("  --version\n      バージョンを表示します。\n");
    return 0;
}
