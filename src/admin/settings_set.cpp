// `tarnbox settings set name=value ...`: all values are checked before any is
// saved, so a refused value leaves the file as it was.
#include "admin/admin_context.h"
#include "admin/settings_fields.h"
#include "base/global_lock.h"

int admin_settings_set(AdminContext& ctx) {
    if (ctx.args.empty()) return admin_fail("settings set: name=value を指定してください。");
    if (int r = open_store(ctx, true)) return r;
    BasicSettings changed = ctx.ds.settings;
    for (const std::string& arg : ctx.args) {
        size_t eq = arg.find('=');
        if (eq == std::string::npos)
            return admin_fail(arg + ": name=value の形で指定してください。");
        const SettingsField* f = find_settings_field(arg.substr(0, eq));
        if (!f) return admin_fail(arg.substr(0, eq) + ": そのような設定項目はありません。");
        std::string msg = apply_settings_field(changed, *f, arg.substr(eq + 1));
        if (!msg.empty()) return admin_fail(msg);
    }
    std::string msg = check_settings_lengths(changed);
    if (!msg.empty()) return admin_fail(msg);
    std::lock_guard<std::recursive_mutex> hold(globalLock);
    BasicSettings before = ctx.ds.settings;
    ctx.ds.settings = changed;
    if (save_basic_settings(ctx.ds) != 1) {
        ctx.ds.settings = before;
        return 1;
    }
    return 0;
}
