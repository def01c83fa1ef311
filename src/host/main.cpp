// The tarnbox command: the gateway and its administration.
#include "admin/admin_context.h"
#include "host/home.h"
#include "host/serve.h"
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Subcommand {
    const char* name; // first word
    const char* verb; // second word, or nullptr
    AdminCommand run;
    const char* usage;
};

const Subcommand kSubcommands[] = {
    {"serve", nullptr, admin_serve,
     "serve [--worker-timeout S] [--idle-timeout S] [--request-timeout S] [--max-connections N]"},
    {"init", nullptr, admin_init,
     "init [--http-port P] [--smtp-server H] [--smtp-port P] [--pop3-server H] [--pop3-port P]"},
    {"settings", "show", admin_settings_show, "settings show"},
    {"settings", "set", admin_settings_set, "settings set name=value ..."},
    {"users", "list", admin_users_list, "users list"},
    {"users", "add", admin_users_add,
     "users add --name N --mail-address M --id U --password P [--smtp-server H] "
     "[--pop3-server H] [--cc] [--bcc] [--apop]"},
    {"users", "import", admin_users_import, "users import FILE"},
    {"users", "select", admin_users_select, "users select FILE"},
    {"admin-password", nullptr, admin_password, "admin-password"},
    {"shared-book", "list", admin_shared_book_list, "shared-book list"},
    {"shared-book", "add", admin_shared_book_add, "shared-book add [--name N] --mail-address M"},
    {"shared-book", "up", admin_shared_book_up, "shared-book up N"},
    {"shared-book", "down", admin_shared_book_down, "shared-book down N"},
    {"shared-book", "delete", admin_shared_book_delete, "shared-book delete N"},
    {"shared-book", "sort", admin_shared_book_sort, "shared-book sort name|address"},
    {"service", "install", admin_service_install, "service install [--unit-dir DIR] [--user NAME]"},
    {"service", "remove", admin_service_remove, "service remove [--unit-dir DIR]"},
    {"service", "start", admin_service_start, "service start"},
    {"service", "status", admin_service_status, "service status"},
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
    {"settings", "show", "基本設定を表示します。"},
    {"settings", "set", "基本設定を変更します。"},
    {"users", "list", "ユーザーの一覧を表示します。"},
    {"users", "add", "ユーザーを登録します。"},
    {"users", "import", "ファイルからユーザーを一括登録します。"},
    {"users", "select", "ファイルに挙げたユーザーだけを残します。"},
    {"admin-password", nullptr, "管理者パスワードを設定・変更・削除します。"},
    {"shared-book", "list", "共有アドレス帳を表示します。"},
    {"shared-book", "add", "共有アドレス帳に追加します。"},
    {"shared-book", "up", "共有アドレス帳の N 番目を一つ上へ移します。"},
    {"shared-book", "down", "共有アドレス帳の N 番目を一つ下へ移します。"},
    {"shared-book", "delete", "共有アドレス帳の N 番目を削除します。"},
    {"shared-book", "sort", "共有アドレス帳を名前かアドレスの順に並べます。"},
    {"service", "install", "サービス登録: systemd のユニットを書き込み、有効にします。"},
    {"service", "remove", "サービス削除: サービスを止めてユニットを削除します。"},
    {"service", "start", "サービスを開始します。"},
    {"service", "status", "サービスの状態を表示します。"},
};

const char* about(const Subcommand& c) {
    for (const auto& a : kAbout)
        if (!strcmp(a.name, c.name) &&
            (a.verb == c.verb || (a.verb && c.verb && !strcmp(a.verb, c.verb))))
            return a.text;
    return nullptr;
}

// Commands that change the gateway's configuration ask for the
// administrator password first, when one is set.
bool Guarded(const char* name) {
    const std::string n = name;
    return n == "settings" || n == "users" || n == "shared-book" || n == "service" || n == "stop";
}

int usage(FILE* out) {
    fprintf(out, "usage: tarnbox [--home DIR] [--admin-password-file FILE] COMMAND\n       tarnbox "
                 "--version\ncommands:\n");
    for (const auto& c : kSubcommands) fprintf(out, "  %s\n", c.usage);
    return out == stdout ? 0 : 2;
}

int help() {
    printf("usage: tarnbox [--home DIR] [--admin-password-file FILE] COMMAND\n\n");
    for (const auto& c : kSubcommands) {
        printf("  %s\n", c.usage);
        if (const char* text = about(c)) printf("      %s\n", text);
    }
    printf("  --version\n      バージョンを表示します。\n");
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string home = program_folder();
    std::string adminPasswordFile;
    size_t i = 0;
    for (; i < args.size() && args[i].rfind("--", 0) == 0; i++) {
        if (args[i] == "--version") {
            printf("Tarnbox 1.51\n");
            return 0;
        }
        if (args[i] == "--help") return usage(stdout);
        if (args[i] == "--admin-password-file" && i + 1 < args.size()) {
            adminPasswordFile = args[++i];
        } else if (args[i] == "--home" && i + 1 < args.size()) {
            home = args[++i];
        } else if (args[i].rfind("--home=", 0) == 0) {
            home = args[i].substr(7);
        } else {
            fprintf(stderr, "不明なオプションです: %s\n", args[i].c_str());
            return usage(stderr);
        }
    }
    if (i >= args.size()) return usage(stderr);
    if (args[i] == "help") return help();

    for (const auto& c : kSubcommands) {
        if (args[i] != c.name) continue;
        size_t first = i + 1;
        if (c.verb) {
            if (first >= args.size() || args[first] != c.verb) continue;
            first++;
        }
        HomePaths paths = make_home_paths(home);
        DataStore& ds = data_store();
        ds.data_path = paths.data_file;
        ds.user_folder = paths.user_folder;
        ds.report = [](std::string_view text) {
            fprintf(stderr, "%.*s\n", static_cast<int>(text.size()), text.data());
        };
        AdminContext ctx{paths, ds, std::vector<std::string>(args.begin() + first, args.end()),
                         adminPasswordFile};
        if (Guarded(c.name)) {
            if (int r = open_store(ctx, false)) return r;
            if (int r = admin_gate(ctx)) return r;
        }
        return c.run(ctx);
    }
    fprintf(stderr, "不明なコマンドです: %s\n", args[i].c_str());
    return usage(stderr);
}
