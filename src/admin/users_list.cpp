// `tarnbox users list [--sort name|address|id]`: position, id, name and mail
// address of Settings 1, in table order or sorted by one column as the
// administrator's list sorts on a header click.
#include "admin/admin_context.h"
#include "admin/admin_output.h"
#include "base/console_text.h"

#include <algorithm>
#include <clocale>
#include <cstring>
#include <vector>

namespace {

struct Row {
    int position;
    std::string id, name, address; // UTF-8, as shown
};

} // namespace

int admin_users_list(AdminContext& ctx) {
    std::string column;
    if (ctx.args.size() == 2 && ctx.args[0] == "--sort")
        column = ctx.args[1];
    else if (!ctx.args.empty())
        return admin_fail("使い方: tarnbox users list [--sort name|address|id]");
    if (!column.empty() && column != "name" && column != "address" && column != "id")
        return admin_fail("--sort には name, address, id のいずれかを指定してください。");
    if (int r = open_store(ctx, false)) return r;
    std::vector<Row> rows;
    for (const UserRecord* r = ctx.ds.users.head.link; r; r = r->link)
        rows.push_back({r->position, sjis_to_utf8(r->set[0].id), sjis_to_utf8(r->set[0].name),
                        sjis_to_utf8(r->set[0].mail_address)});
    if (!column.empty()) {
        // Locale-aware and case-sensitive, like the list's own sort.
        if (!setlocale(LC_COLLATE, "")) setlocale(LC_COLLATE, "C.UTF-8");
        auto key = [&](const Row& r) -> const std::string& {
            return column == "name" ? r.name : column == "address" ? r.address : r.id;
        };
        std::stable_sort(rows.begin(), rows.end(), [&](const Row& a, const Row& b) {
            return strcoll(key(a).c_str(), key(b).c_str()) < 0;
        });
    }
    for (const Row& r : rows)
        admin_out(std::to_string(r.position) + "\t" + r.id + "\t" + r.name + "\t" + r.address);
    return 0;
}
