// `tarnbox users add`: registration of one user, with the checks of the
// administrator's registration form in the same order and words.
#include "admin/admin_context.h"
#include "admin/mail_security_options.h"
#include "base/global_lock.h"
#include "store/user_slot.h"
#include <cstdio>
#include <cstring>

namespace {

struct AddInput {
    std::string name, mail_address, id, password, smtp_server, pop3_server;
    bool smtp_given = false, pop3_given = false;
    bool cc = false, bcc = false, apop = false;
    SecurityInput security;
};

struct TextOption {
    const char* flag;
    std::string AddInput::*field;
    size_t max_bytes;
    bool AddInput::*given;
};

const TextOption kTextOptions[] = {
    {"--name", &AddInput::name, 39, nullptr},
    {"--mail-address", &AddInput::mail_address, 79, nullptr},
    {"--id", &AddInput::id, 39, nullptr},
    {"--password", &AddInput::password, 39, nullptr},
    {"--smtp-server", &AddInput::smtp_server, 79, &AddInput::smtp_given},
    {"--pop3-server", &AddInput::pop3_server, 79, &AddInput::pop3_given},
};

struct FlagOption {
    const char* flag;
    bool AddInput::*field;
};

const FlagOption kFlagOptions[] = {
    {"--cc", &AddInput::cc}, {"--bcc", &AddInput::bcc}, {"--apop", &AddInput::apop}};

int parse(const std::vector<std::string>& args, AddInput& in) {
    for (size_t i = 0; i < args.size(); i++) {
        const int security = take_security_option(args, i, in.security);
        if (security < 0) return 1;
        bool matched = security > 0;
        for (const auto& o : kFlagOptions)
            if (args[i] == o.flag) {
                in.*o.field = true;
                matched = true;
            }
        for (const auto& o : kTextOptions) {
            if (matched || args[i] != o.flag) continue;
            if (i + 1 >= args.size()) return admin_fail(std::string(o.flag) + ": 値がありません。");
            if (!take_text(o.flag, args[++i], o.max_bytes, in.*o.field)) return 1;
            if (o.given) in.*o.given = true;
            matched = true;
        }
        if (!matched) return admin_fail("users add: 不明なオプションです: " + args[i]);
    }
    return 0;
}

template <size_t N> void put(char (&dst)[N], const std::string& src) {
    size_t n = src.size() < N - 1 ? src.size() : N - 1;
    memcpy(dst, src.data(), n);
    dst[n] = 0;
}

} // namespace

int admin_users_add(AdminContext& ctx) {
    AddInput in;
    if (int r = parse(ctx.args, in)) return r;
    if (int r = open_store(ctx, true)) return r;
    const BasicSettings& bs = ctx.ds.settings;
    // Without per-user servers the form shows the defaults and cannot change them.
    if (!bs.per_user_servers && (in.smtp_given || in.pop3_given))
        return admin_fail("ユーザーごとのサーバー指定が許可されていないため、"
                          "--smtp-server と --pop3-server は指定できません。");
    if (!bs.per_user_servers && in.security.any()) return admin_fail(kSecurityNotPerUser);
    if (int r = check_oauth_provider(ctx.paths.home, in.security)) return r;
    if (!in.smtp_given) in.smtp_server = bs.smtp_server;
    if (!in.pop3_given) in.pop3_server = bs.pop3_server;

    if (in.name.empty()) return admin_fail("名前を入力してください。");
    if (in.mail_address.empty()) return admin_fail("メールアドレスを入力してください。");
    if (in.mail_address.find('@') == std::string::npos)
        return admin_fail("メールアドレスが正しくありません。");
    if (in.id.empty()) return admin_fail("POP3ユーザー名を入力してください。");
    if (find_user(ctx.ds.users, in.id.c_str()))
        return admin_fail("すでに登録済みのPOP3ユーザー名です。");
    if (!id_names_a_file(in.id)) return admin_fail(kIdNotAFileName);
    if (in.password.empty())
        return admin_fail("パスワードとパスワード再入力にパスワードを入力してください。");
    if (in.smtp_server.empty()) return admin_fail("SMTPサーバー名を入力してください。");
    if (in.pop3_server.empty()) return admin_fail("POP3サーバー名を入力してください。");
    if (count_users(ctx.ds.users) >= max_users) return admin_fail("これ以上の登録はできません。");

    auto* r = new UserRecord();
    SettingsSet& s = r->set[0];
    put(s.name, in.name);
    put(s.mail_address, in.mail_address);
    put(s.id, in.id);
    put(s.password, in.password);
    put(s.smtp_name, in.smtp_server);
    put(s.pop3_name, in.pop3_server);
    s.apop_flag = in.apop;
    start_security_from_defaults(bs, s);
    apply_security(in.security, bs, s);
    set_default_options(*r);
    r->options[cc_flag] = in.cc;
    r->options[bcc_flag] = in.bcc;

    std::lock_guard<std::recursive_mutex> hold(globalLock);
    append_user(ctx.ds.users, r);
    renumber_users(ctx.ds.users);
    if (write_user_slot(ctx.ds, *r) != 1) {
        remove_user(ctx.ds.users, s.id);
        return 1;
    }
    std::string why;
    if (!save_smtp_login(ctx.ds, *r, 0, in.security, why))
        return admin_fail("ユーザーは登録しましたが、SMTPのログインを保存できませんでした。" + why);
    return 0;
}
