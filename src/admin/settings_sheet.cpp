// `tarnbox settings`: the whole sheet, its three pages one after the other.
#include "admin/settings_page.h"

int admin_settings_sheet(AdminContext& ctx) {
    if (!ctx.args.empty())
        return admin_fail("settings " + ctx.args[0] +
                          ": 不明なコマンドです (show, set, addresses, server, colours, "
                          "permissions)。");
    const struct {
        const char* title;
        AdminCommand page;
    } kPages[] = {{"[サーバー]", admin_settings_server},
                  {"[配色]", admin_settings_colours},
                  {"[変更許可]", admin_settings_permissions}};
    for (const auto& p : kPages) {
        admin_out(p.title);
        if (int r = p.page(ctx)) return r;
    }
    return 0;
}
