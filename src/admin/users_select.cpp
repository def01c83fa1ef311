// `tarnbox users select FILE`: the users a file names, as the POP3 user names
// that a later command (deletion) takes. A CSV file names them in its third
// column (the POP3 user name of a bulk-registration file); any other file by
// whole lines, which may be names, mail addresses or POP3 user names.
#include "admin/admin_context.h"
#include "admin/csv_file.h"
#include "base/console_text.h"
#include "base/text/char_class.h"
#include "base/text/sjis_pair.h"
#include <cstdio>
#include <string_view>

namespace {

bool is_csv_file(const std::string& path) {
    size_t slash = path.rfind('/');
    size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return false;
    std::string ext = path.substr(dot + 1);
    return ext.size() == 3 && ToUpperAscii(ext[0]) == 'C' && ToUpperAscii(ext[1]) == 'S' &&
           ToUpperAscii(ext[2]) == 'V';
}

// Equal ignoring ASCII case. Second bytes of Shift_JIS pairs include the
// letters' codes, so pairs are compared exactly or two kanji would match.
bool equal_no_case(const char* a, const char* b) {
    while (*a && *b) {
        if (SjisPairAt(a) || SjisPairAt(b)) {
            if (a[0] != b[0] || a[1] != b[1]) return false;
            a += 2;
            b += 2;
        } else {
            if (ToUpperAscii(*a) != ToUpperAscii(*b)) return false;
            a++;
            b++;
        }
    }
    return *a == *b;
}

void select_by_key(const UserTable& users, const char* key, std::vector<bool>& chosen) {
    size_t k = 0;
    for (const UserRecord* r = users.head.link; r; r = r->link, k++)
        if (equal_no_case(r->set[0].name, key)) {
            chosen[k] = true;
            return;
        }
    k = 0;
    for (const UserRecord* r = users.head.link; r; r = r->link, k++)
        if (equal_no_case(r->set[0].mail_address, key) || equal_no_case(r->set[0].id, key))
            chosen[k] = true;
}

} // namespace

int admin_users_select(AdminContext& ctx) {
    if (ctx.args.size() != 1) return admin_fail("使い方: tarnbox users select FILE");
    if (int r = open_store(ctx, false)) return r;
    CsvText text;
    if (!read_csv_file(ctx.args[0], text)) return 1;
    bool csv = is_csv_file(ctx.args[0]);
    std::vector<bool> chosen(count_users(ctx.ds.users), false);
    for (const std::string& line : text.lines) {
        std::string key = line;
        if (csv) {
            std::vector<std::string> col = split_csv_columns(line);
            key = col.size() >= 3 ? col[2] : std::string();
        }
        if (!key.empty()) select_by_key(ctx.ds.users, key.c_str(), chosen);
    }
    size_t k = 0;
    for (const UserRecord* r = ctx.ds.users.head.link; r; r = r->link, k++)
        if (chosen[k]) printf("%s\n", sjis_to_utf8(r->set[0].id).c_str());
    return 0;
}
