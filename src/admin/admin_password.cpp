// `tarnbox admin-password`: sets, changes or deletes the administrator
// password, and the gate that asks for it before a guarded command runs.
#include "admin/admin_context.h"
#include "admin/admin_output.h"
#include "admin/secret_input.h"
#include "base/console_text.h"
#include "base/global_lock.h"
#include "base/text/secret_equals.h"

#include <cstdio>
#include <fstream>
#include <mutex>
#include <unistd.h>
#include <vector>

namespace {

constexpr size_t kPasswordLength = 39;

// One line from the terminal without echo, or from standard input when that
// is no terminal (scripts). Only the first 39 bytes count, like the edit box.
bool ReadSecret(const char* prompt, std::string& out) {
    const bool got = read_secret_line(prompt, out);
    if (out.size() > kPasswordLength) out.resize(kPasswordLength);
    return got;
}

// The typed text as the data file keeps it.
bool TakeSecret(const std::string& utf8, std::string& sjis) {
    if (!utf8_to_sjis(utf8, sjis)) {
        admin_err("パスワードに使えない文字があります。");
        return false;
    }
    if (sjis.size() > kPasswordLength) sjis.resize(kPasswordLength);
    return true;
}

bool Matches(const BasicSettings& s, const std::string& given) {
    return SecretEquals(s.admin_password, sizeof s.admin_password, given.c_str());
}

} // namespace

int admin_gate(AdminContext& ctx) {
    if (!ctx.ds.settings.admin_password[0]) return 0;
    std::string typed;
    if (!ctx.admin_password_file.empty()) {
        std::ifstream in(ctx.admin_password_file);
        if (!in || !std::getline(in, typed))
            return admin_fail("パスワードファイルを読めません: " + ctx.admin_password_file);
        if (!typed.empty() && typed.back() == '\r') typed.pop_back();
        if (typed.size() > kPasswordLength) typed.resize(kPasswordLength);
    } else if (isatty(STDIN_FILENO)) {
        admin_err("管理者用パスワード入力");
        ReadSecret("パスワードを入力してください。", typed);
    } else {
        return admin_fail("管理者用パスワードが設定されています。--admin-password-file "
                          "でパスワードのファイルを指定してください。");
    }
    std::string sjis;
    if (!TakeSecret(typed, sjis) || !Matches(ctx.ds.settings, sjis))
        return admin_fail("管理者用パスワードが違います。");
    return 0;
}

std::deque<std::string> admin_password_input(AdminContext& ctx) {
    std::deque<std::string> lines;
    if (open_store(ctx, false)) return lines;
    const bool isSet = ctx.ds.settings.admin_password[0] != '\0';
    const char* const changing[] = {
        "旧パスワード: ", "新パスワード (入力無しで削除): ", "新パスワード再入力: "};
    const char* const setting[] = {"パスワード: ", "パスワード再入力: "};
    admin_err(isSet ? "管理者パスワード変更" : "管理者パスワード設定");
    for (const char* prompt : isSet ? std::vector<const char*>(changing, changing + 3)
                                    : std::vector<const char*>(setting, setting + 2)) {
        std::string line;
        ReadSecret(prompt, line);
        lines.push_back(line);
    }
    return lines;
}

int admin_password(AdminContext& ctx) {
    if (!ctx.args.empty()) return admin_fail("admin-password: 引数は要りません。");
    if (int r = open_store(ctx, true)) return r;
    BasicSettings& s = ctx.ds.settings;
    const bool isSet = s.admin_password[0] != '\0';
    std::string oldText, newText, again;
    if (isSet) {
        ReadSecret("旧パスワード: ", oldText);
        ReadSecret("新パスワード (入力無しで削除): ", newText);
        ReadSecret("新パスワード再入力: ", again);
    } else {
        ReadSecret("パスワード: ", newText);
        ReadSecret("パスワード再入力: ", again);
    }
    std::string oldSjis, newSjis, againSjis;
    if (!TakeSecret(oldText, oldSjis) || !TakeSecret(newText, newSjis) ||
        !TakeSecret(again, againSjis))
        return 1;
    if (isSet) {
        if (!Matches(s, oldSjis)) return admin_fail("管理者用旧パスワードが違います。");
        if (newSjis != againSjis)
            return admin_fail("新パスワードと新パスワード再入力には同じものを入れてください。");
    } else if (newSjis != againSjis) {
        return admin_fail("パスワードとパスワード再入力には同じものを入れてください。");
    }
    const char* report = isSet && newSjis.empty() ? "パスワードを削除しました。"
                         : isSet                  ? "パスワードを変更しました。"
                         : !newSjis.empty()       ? "パスワードを設定しました。"
                                                  : nullptr;
    std::lock_guard<std::recursive_mutex> hold(globalLock);
    BasicSettings before = s;
    snprintf(s.admin_password, sizeof s.admin_password, "%s", newSjis.c_str());
    if (save_basic_settings(ctx.ds) != 1) {
        s = before;
        return 1;
    }
    if (report) admin_out(report);
    return 0;
}
