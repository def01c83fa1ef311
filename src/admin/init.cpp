// `tarnbox init`: the first start. Takes the place of the settings dialog that
// must be completed before the gateway may run.
#include "admin/admin_context.h"
#include "admin/admin_output.h"
#include "admin/settings_fields.h"
#include "base/instance.h"
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct InitOption {
    const char* flag;
    const char* field;
};

const InitOption kInitOptions[] = {
    {"--http-port", "http_port"}, {"--smtp-server", "smtp_server"},
    {"--smtp-port", "smtp_port"}, {"--pop3-server", "pop3_server"},
    {"--pop3-port", "pop3_port"},
};

bool make_folder(const std::string& path) {
    if (mkdir(path.c_str(), 0700) == 0 || errno == EEXIST) return true;
    admin_fail("フォルダ " + path + " を作成できません: " + strerror(errno));
    return false;
}

} // namespace

int admin_init(AdminContext& ctx) {
    set_default_settings(ctx.ds.settings, ctx.ds.user_folder.c_str());
    const auto& args = ctx.args;
    for (size_t i = 0; i < args.size(); i++) {
        const InitOption* opt = nullptr;
        for (const auto& o : kInitOptions)
            if (args[i] == o.flag) opt = &o;
        if (!opt) return admin_fail("init: 不明なオプションです: " + args[i]);
        if (i + 1 >= args.size()) return admin_fail(std::string(opt->flag) + ": 値がありません。");
        std::string msg =
            apply_settings_field(ctx.ds.settings, *find_settings_field(opt->field), args[++i]);
        if (!msg.empty()) return admin_fail(msg);
    }
    if (!make_folder(ctx.paths.home)) return 1;
    int claimed = ClaimInstance(ctx.paths.lock_file);
    if (claimed <= 0)
        return admin_fail("このホームではすでに Tarnbox が動作しています。 (" + ctx.paths.home +
                          ")");
    if (access(ctx.paths.data_file.c_str(), F_OK) == 0)
        return admin_fail("データファイル " + ctx.paths.data_file +
                          " はすでにあります。何も変更しません。");
    if (!make_folder(ctx.paths.user_folder) || !make_folder(ctx.paths.temp_folder) ||
        !make_folder(ctx.paths.html_folder))
        return 1;
    if (create_data_file(ctx.ds) != 1) return 1;
    admin_out(ctx.paths.data_file + " を作成しました。");
    return 0;
}
