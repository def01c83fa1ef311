// `tarnbox users delete [--yes] ID...`: removes users. On a terminal each
// user is confirmed first (yes, no, all, cancel); scripts say --yes. Users
// are removed only while no page is being served, so that no page still
// holds a record being freed; a gateway that stays busy makes the command
// give up rather than wait forever.
#include "admin/admin_context.h"
#include "admin/admin_output.h"
#include "base/connection_count.h"
#include "base/console_text.h"
#include "base/global_lock.h"
#include "store/login_sessions.h"
#include "store/user_table.h"

#include <chrono>
#include <iostream>
#include <mutex>
#include <thread>
#include <unistd.h>

namespace {

constexpr auto kIdleWaitStep = std::chrono::milliseconds(100);
constexpr int kIdleWaitSteps = 300; // thirty seconds

// The ids after the options; yes says whether --yes was given.
bool ParseDelete(const std::vector<std::string>& args, bool& yes, std::vector<std::string>& ids) {
    yes = false;
    for (const std::string& a : args) {
        if (a == "--yes")
            yes = true;
        else if (a.rfind("--", 0) == 0)
            return false;
        else
            ids.push_back(a);
    }
    return !ids.empty();
}

} // namespace

int admin_users_delete_confirm(AdminContext& ctx) {
    bool yes = false;
    std::vector<std::string> ids;
    if (!ParseDelete(ctx.args, yes, ids))
        return admin_fail("使い方: tarnbox users delete [--yes] POP3ユーザー名...");
    if (yes) return 0;
    if (!isatty(STDIN_FILENO))
        return admin_fail(
            "確認できないため削除しません。端末で実行するか --yes を指定してください。");
    if (int r = open_store(ctx, false)) return r;
    std::vector<std::string> confirmed;
    bool all = false;
    for (const std::string& id : ids) {
        std::string sjis;
        const UserRecord* u =
            utf8_to_sjis(id, sjis) ? find_user(ctx.ds.users, sjis.c_str()) : nullptr;
        if (!u) {
            confirmed.push_back(id); // the command reports it
            continue;
        }
        if (!all) {
            fprintf(stderr,
                    "削除確認: %s を削除します [y=はい / n=いいえ / a=全て削除 / c=キャンセル] ",
                    sjis_to_utf8(u->set[0].name).c_str());
            std::string answer;
            if (!std::getline(std::cin, answer) || answer == "c") break;
            if (answer == "n") continue;
            if (answer == "a")
                all = true;
            else if (answer != "y")
                continue;
        }
        confirmed.push_back(id);
    }
    if (confirmed.empty()) return admin_fail("削除するユーザーはありません。");
    ctx.args.assign({"--yes"});
    ctx.args.insert(ctx.args.end(), confirmed.begin(), confirmed.end());
    return 0;
}

int admin_users_delete(AdminContext& ctx) {
    bool yes = false;
    std::vector<std::string> ids;
    if (!ParseDelete(ctx.args, yes, ids))
        return admin_fail("使い方: tarnbox users delete [--yes] POP3ユーザー名...");
    if (!yes)
        return admin_fail(
            "確認できないため削除しません。端末で実行するか --yes を指定してください。");
    if (int r = open_store(ctx, true)) return r;
    // Waited for without the lock: pages that are ending need it to leave.
    for (int step = 0;; step++) {
        if (ConnectionCount() == 0) {
            std::unique_lock<std::recursive_mutex> hold(globalLock);
            // No new page can start while the lock is held.
            if (ConnectionCount() == 0) {
                // Unlinked first and freed only once the file no longer has
                // them: a delete that cannot be saved leaves the users as
                // they were, not gone at the next write.
                const std::vector<UserRecord*> before = user_order(ctx.ds.users);
                std::vector<UserRecord*> removed;
                for (const std::string& id : ids) {
                    std::string sjis;
                    UserRecord* r =
                        utf8_to_sjis(id, sjis) ? unlink_user(ctx.ds.users, sjis.c_str()) : nullptr;
                    if (!r) {
                        admin_err(id + ": そのユーザーは登録されていません。");
                        continue;
                    }
                    removed.push_back(r);
                }
                if (removed.empty()) return 1;
                renumber_users(ctx.ds.users);
                if (rewrite_data_file(ctx.ds) != 1) {
                    relink_users(ctx.ds.users, before);
                    return 1;
                }
                for (UserRecord* r : removed) {
                    // A user made again under the name must not find the old
                    // logins.
                    session_close_user(r->set[0].id);
                    delete r;
                }
                std::string why;
                if (!ctx.ds.credentials.prune(ctx.ds.users, why)) admin_err(why);
                admin_out(std::to_string(removed.size()) + " 件のユーザーを削除しました。");
                return removed.size() == ids.size() ? 0 : 1;
            }
        }
        if (step >= kIdleWaitSteps)
            return admin_fail("ページを表示中の接続が終わらないため、削除できませんでした。");
        std::this_thread::sleep_for(kIdleWaitStep);
    }
}
