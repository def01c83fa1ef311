// `tarnbox users change ID [--name N] [--mail-address M] [--password P]
// [--smtp-server H] [--pop3-server H] [--apop on|off] [--poppassd]`: changes
// Settings 1 of a user. With a new password and --poppassd the password is
// first changed on the mail server; when that server cannot be reached the
// change goes on in the gateway only, and any refusal stops it.
#include "admin/admin_context.h"
#include "admin/admin_output.h"
#include "host/global_lock.h"
#include "mail/charset/sjis.h"
#include "mail/poppassd/poppassd_client.h"
#include "mail/poppassd/poppassd_exchange.h"

#include <cstring>
#include <mutex>
#include <optional>

namespace {

struct ChangeInput {
    std::string id;
    std::optional<std::string> name, mail_address, password, smtp_server, pop3_server;
    std::optional<int> apop;
    bool poppassd = false;
};

int Parse(const std::vector<std::string>& args, ChangeInput& in) {
    if (args.empty() || args[0].rfind("--", 0) == 0)
        return admin_fail(
            "使い方: tarnbox users change POP3ユーザー名 [--name N] [--mail-address M] "
            "[--password P] [--smtp-server H] [--pop3-server H] [--apop on|off] "
            "[--poppassd]");
    if (!take_text("POP3ユーザー名", args[0], 39, in.id)) return 1;
    struct Option {
        const char* flag;
        std::optional<std::string> ChangeInput::*field;
        size_t max_bytes;
    };
    const Option options[] = {{"--name", &ChangeInput::name, 39},
                              {"--mail-address", &ChangeInput::mail_address, 79},
                              {"--password", &ChangeInput::password, 39},
                              {"--smtp-server", &ChangeInput::smtp_server, 79},
                              {"--pop3-server", &ChangeInput::pop3_server, 79}};
    for (size_t i = 1; i < args.size(); i++) {
        if (args[i] == "--poppassd") {
            in.poppassd = true;
            continue;
        }
        if (args[i] == "--apop" && i + 1 < args.size()) {
            const std::string v = args[++i];
            if (v != "on" && v != "off")
                return admin_fail("--apop には on か off を指定してください。");
            in.apop = v == "on" ? 1 : 0;
            continue;
        }
        bool matched = false;
        for (const Option& o : options) {
            if (args[i] != o.flag) continue;
            if (i + 1 >= args.size()) return admin_fail(args[i] + ": 値がありません。");
            std::string sjis;
            if (!take_text(o.flag, args[++i], o.max_bytes, sjis)) return 1;
            in.*o.field = sjis;
            matched = true;
        }
        if (!matched) return admin_fail("users change: 不明なオプションです: " + args[i]);
    }
    return 0;
}

template <size_t N> void Put(char (&dst)[N], const std::string& src) {
    sjis_copy(dst, src.c_str());
}

} // namespace

int admin_users_change(AdminContext& ctx) {
    ChangeInput in;
    if (int r = Parse(ctx.args, in)) return r;
    if (int r = open_store(ctx, true)) return r;
    const BasicSettings& bs = ctx.ds.settings;
    if (!bs.per_user_servers && (in.smtp_server || in.pop3_server))
        return admin_fail("ユーザーごとのサーバー指定が許可されていないため、"
                          "--smtp-server と --pop3-server は指定できません。");
    SettingsSet now;
    {
        std::lock_guard<std::recursive_mutex> hold(globalLock);
        const UserRecord* u = find_user(ctx.ds.users, in.id.c_str());
        if (!u) return admin_fail("設定変更ができません。");
        now = u->set[0];
    }
    if (in.name && in.name->empty()) return admin_fail("名前を入力してください。");
    if (in.mail_address && in.mail_address->empty())
        return admin_fail("メールアドレスを入力してください。");
    if (in.mail_address && in.mail_address->find('@') == std::string::npos)
        return admin_fail("メールアドレスが正しくありません。");
    if (in.smtp_server && in.smtp_server->empty())
        return admin_fail("SMTPサーバー名を入力してください。");
    if (in.pop3_server && in.pop3_server->empty())
        return admin_fail("POP3サーバー名を入力してください。");
    // The box follows poppassd_value and cannot be ticked while that is off.
    if (in.password && !in.password->empty() && in.poppassd && bs.poppassd_value) {
        const char* host = now.pop3_name[0] && bs.per_user_servers ? now.pop3_name : bs.pop3_server;
        char refusal[kPoppassdRefusalSize] = "";
        // Outside the lock: this is a network exchange.
        const int outcome = RunPoppassd(host, now.id, now.password, in.password->c_str(), refusal);
        if (outcome != kPoppassdChanged && outcome != kPoppassdConnectFailed)
            return admin_fail("poppassd によるパスワード更新に失敗しました。" +
                              (refusal[0] ? std::string("\n") + refusal : std::string()));
    }
    std::lock_guard<std::recursive_mutex> hold(globalLock);
    UserRecord* u = find_user(ctx.ds.users, in.id.c_str());
    if (!u) return admin_fail("設定変更ができません。");
    SettingsSet before = u->set[0];
    SettingsSet& s = u->set[0];
    if (in.name) Put(s.name, *in.name);
    if (in.mail_address) Put(s.mail_address, *in.mail_address);
    if (in.password && !in.password->empty()) Put(s.password, *in.password);
    if (in.smtp_server) Put(s.smtp_name, *in.smtp_server);
    if (in.pop3_server) Put(s.pop3_name, *in.pop3_server);
    if (in.apop) s.apop_flag = *in.apop;
    if (write_user_slot(ctx.ds, *u) != 1) {
        u->set[0] = before;
        return 1;
    }
    admin_out("設定を変更しました。");
    return 0;
}
