// `tarnbox users change ID [--id NEWID] [--name N] [--mail-address M]
// [--password P] [--smtp-server H] [--pop3-server H] [--cc on|off]
// [--bcc on|off] [--apop on|off] [--poppassd] [security options]`: changes
// Settings 1 of a user.
// With a new password and --poppassd the password is first changed on the
// mail server; when that server cannot be reached the change goes on in the
// gateway only, and any refusal stops it. (The password options that read a
// terminal, a file or standard input are turned into --password before the
// command runs, see users_password.cpp.)
#include "admin/admin_context.h"
#include "admin/admin_output.h"
#include "admin/mail_security_options.h"
#include "base/charset/sjis.h"
#include "base/global_lock.h"
#include "mail/list/received_list.h"
#include "mail/oauth/oauth_client.h"
#include "mail/poppassd/poppassd_client.h"
#include "mail/poppassd/poppassd_exchange.h"
#include "store/user_slot.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <optional>
#include <unistd.h>

namespace {

struct ChangeInput {
    std::string id;
    std::optional<std::string> new_id, name, mail_address, password, smtp_server, pop3_server;
    std::optional<int> cc, bcc, apop;
    bool poppassd = false;
    SecurityInput security;
};

constexpr const char* kUsage =
    "使い方: tarnbox users change POP3ユーザー名 [--id 新POP3ユーザー名] [--name N] "
    "[--mail-address M] [--password P | --password | --password-file F | --password-stdin] "
    "[--smtp-server H] [--pop3-server H] [--cc on|off] [--bcc on|off] [--apop on|off] "
    "[--poppassd] ";

int Parse(const std::vector<std::string>& args, ChangeInput& in) {
    if (args.empty() || args[0].rfind("--", 0) == 0)
        return admin_fail(std::string(kUsage) + kSecurityUsage);
    if (!take_text("POP3ユーザー名", args[0], 39, in.id)) return 1;
    struct TextOption {
        const char* flag;
        std::optional<std::string> ChangeInput::*field;
        size_t max_bytes;
    };
    const TextOption texts[] = {{"--id", &ChangeInput::new_id, 39},
                                {"--name", &ChangeInput::name, 39},
                                {"--mail-address", &ChangeInput::mail_address, 79},
                                {"--password", &ChangeInput::password, 39},
                                {"--smtp-server", &ChangeInput::smtp_server, 79},
                                {"--pop3-server", &ChangeInput::pop3_server, 79}};
    // The boxes of the change dialog.
    struct BoxOption {
        const char* flag;
        std::optional<int> ChangeInput::*field;
    };
    const BoxOption boxes[] = {
        {"--cc", &ChangeInput::cc}, {"--bcc", &ChangeInput::bcc}, {"--apop", &ChangeInput::apop}};
    for (size_t i = 1; i < args.size(); i++) {
        if (args[i] == "--poppassd") {
            in.poppassd = true;
            continue;
        }
        const int security = take_security_option(args, i, in.security);
        if (security < 0) return 1;
        bool matched = security > 0;
        for (const BoxOption& o : boxes) {
            if (args[i] != o.flag) continue;
            if (i + 1 >= args.size() || (args[i + 1] != "on" && args[i + 1] != "off"))
                return admin_fail(std::string(o.flag) + " には on か off を指定してください。");
            in.*o.field = args[++i] == "on" ? 1 : 0;
            matched = true;
        }
        for (const TextOption& o : texts) {
            if (matched || args[i] != o.flag) continue;
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

// The checks of the change dialog, in its order, and those it leaves open
// for the POP3 user name: it is the user's key and names the user's files.
int Check(const ChangeInput& in, const DataStore& ds, const BasicSettings& bs) {
    if (in.name && in.name->empty()) return admin_fail("名前を入力してください。");
    if (in.mail_address && in.mail_address->empty())
        return admin_fail("メールアドレスを入力してください。");
    if (in.mail_address && in.mail_address->find('@') == std::string::npos)
        return admin_fail("メールアドレスが正しくありません。");
    if (in.new_id) {
        if (in.new_id->empty()) return admin_fail("POP3ユーザー名を入力してください。");
        if (*in.new_id != in.id && find_user(ds.users, in.new_id->c_str()))
            return admin_fail("すでに登録済みのPOP3ユーザー名です。");
        if (!id_names_a_file(*in.new_id)) return admin_fail(kIdNotAFileName);
    }
    if (in.smtp_server && in.smtp_server->empty())
        return admin_fail("SMTPサーバー名を入力してください。");
    if (in.pop3_server && in.pop3_server->empty())
        return admin_fail("POP3サーバー名を入力してください。");
    // The dialog's box is disabled while the basic settings have poppassd
    // off, and it only acts on a new password.
    if (in.poppassd && !bs.poppassd_value)
        return admin_fail("基本設定で poppassd の使用がオフになっているため、"
                          "--poppassd は使えません。");
    if (in.poppassd && (!in.password || in.password->empty()))
        return admin_fail("--poppassd は新しいパスワードと一緒に指定してください。");
    return 0;
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
    if (!bs.per_user_servers && in.security.any()) return admin_fail(kSecurityNotPerUser);
    if (int r = check_oauth_provider(ctx.paths.home, in.security)) return r;
    SettingsSet now;
    {
        std::lock_guard<std::recursive_mutex> hold(globalLock);
        const UserRecord* u = find_user(ctx.ds.users, in.id.c_str());
        if (!u) return admin_fail("設定変更ができません。");
        now = u->set[0];
        if (int r = Check(in, ctx.ds, bs)) return r;
    }
    if (in.poppassd) {
        const char* host = now.pop3_name[0] && bs.per_user_servers ? now.pop3_name : bs.pop3_server;
        // The dialog asks the server for the user name as entered.
        const std::string user = in.new_id ? *in.new_id : std::string(now.id);
        char refusal[kPoppassdRefusalSize] = "";
        // Outside the lock: this is a network exchange.
        const int outcome =
            RunPoppassd(host, user.c_str(), now.password, in.password->c_str(), refusal);
        if (outcome != kPoppassdChanged && outcome != kPoppassdConnectFailed)
            return admin_fail("poppassd によるパスワード更新に失敗しました。" +
                              (refusal[0] ? std::string("\n") + refusal : std::string()));
    }
    std::lock_guard<std::recursive_mutex> hold(globalLock);
    UserRecord* u = find_user(ctx.ds.users, in.id.c_str());
    // The table may have changed while poppassd was asked.
    if (!u) return admin_fail("設定変更ができません。");
    if (int r = Check(in, ctx.ds, bs)) return r;
    const SettingsSet before = u->set[0];
    SettingsSet sets[kSettingsSets];
    std::copy(std::begin(u->set), std::end(u->set), sets);
    const uint8_t ccBefore = u->options[cc_flag], bccBefore = u->options[bcc_flag];
    SettingsSet& s = u->set[0];
    if (in.new_id) Put(s.id, *in.new_id);
    if (in.name) Put(s.name, *in.name);
    if (in.mail_address) Put(s.mail_address, *in.mail_address);
    if (in.password && !in.password->empty()) Put(s.password, *in.password);
    if (in.smtp_server) Put(s.smtp_name, *in.smtp_server);
    if (in.pop3_server) Put(s.pop3_name, *in.pop3_server);
    if (in.apop) s.apop_flag = *in.apop;
    apply_security(in.security, bs, s);
    if (in.cc) u->options[cc_flag] = static_cast<uint8_t>(*in.cc);
    if (in.bcc) u->options[bcc_flag] = static_cast<uint8_t>(*in.bcc);
    if (write_user_slot(ctx.ds, *u) != 1) {
        u->set[0] = before;
        u->options[cc_flag] = ccBefore;
        u->options[bcc_flag] = bccBefore;
        return 1;
    }
    if (strcmp(before.id, s.id) != 0) {
        // Another mailbox now: the list kept for the old one is of no use.
        free_kept_list(u, 0);
        // The slot now names the book file by the new id; the old one
        // would otherwise wait for a later user of that name.
        std::string oldBook;
        if (overflow_book_path(ctx.ds.user_folder.c_str(), before.id, oldBook))
            unlink(oldBook.c_str());
    }
    std::string why;
    oauth_keep_providers(ctx.ds.credentials, sets, *u);
    if (!save_smtp_login(ctx.ds, *u, 0, in.security, why) ||
        !ctx.ds.credentials.prune(ctx.ds.users, why))
        return admin_fail("設定は変更しましたが、SMTPのログインを保存できませんでした。" + why);
    admin_out("設定を変更しました。");
    return 0;
}
