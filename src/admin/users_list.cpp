// `tarnbox users list`: position, id, name and mail address of Settings 1.
#include "admin/admin_context.h"
#include "host/console_text.h"
#include <cstdio>

int admin_users_list(AdminContext& ctx) {
    if (int r = open_store(ctx, false)) return r;
    for (const UserRecord* r = ctx.ds.users.head.link; r; r = r->link)
        printf("%d\t%s\t%s\t%s\n", r->position, sjis_to_utf8(r->set[0].id).c_str(),
               sjis_to_utf8(r->set[0].name).c_str(), sjis_to_utf8(r->set[0].mail_address).c_str());
    return 0;
}
