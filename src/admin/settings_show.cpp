// `tarnbox settings show`: every basic setting as name=value.
#include "admin/admin_context.h"
#include "admin/settings_fields.h"
#include <cstdio>

int admin_settings_show(AdminContext& ctx) {
    if (int r = open_store(ctx, false)) return r;
    for (const SettingsField* f = settings_fields_begin(); f != settings_fields_end(); f++)
        printf("%s=%s\n", f->name, format_settings_field(ctx.ds.settings, *f).c_str());
    return 0;
}
