// `tarnbox shared-book list|add|up|down|delete|sort`: the administrator's
// editor of the shared address book. Every changing verb is one edit of the
// dialog followed by its OK: the book is read, changed and written back whole.
#include "admin/admin_context.h"
#include "admin/shared_book_file.h"
#include "base/console_text.h"
#include "base/text/address.h"
#include "mail/book/address_book.h"
#include <cstdio>

namespace {

std::string book_path(const AdminContext& ctx) {
    return ctx.paths.user_folder + "/common.adb";
}

// Claims the home and reads the book; 0 when both worked.
int open_book(AdminContext& ctx, std::vector<SharedBookRow>& rows) {
    if (int r = open_store(ctx, true)) return r;
    return load_shared_book(book_path(ctx), rows) < 0 ? 1 : 0;
}

int save(AdminContext& ctx, const std::vector<SharedBookRow>& rows) {
    return save_shared_book(book_path(ctx), rows) == 1 ? 0 : 1;
}

// The entry number N of "verb N", 1-based, into n_r. Returns false after a
// message when the argument is missing, not a number or names no row.
bool entry_number(const AdminContext& ctx, const char* verb, size_t rows, size_t& n_r) {
    if (ctx.args.size() != 1) {
        admin_fail(std::string("使い方: tarnbox shared-book ") + verb + " N");
        return false;
    }
    const std::string& a = ctx.args[0];
    bool digits = !a.empty() && a.size() <= 9;
    n_r = 0;
    for (char c : a) {
        if (c < '0' || c > '9') digits = false;
        if (digits) n_r = n_r * 10 + static_cast<size_t>(c - '0');
    }
    if (!digits || n_r == 0 || n_r > rows) {
        admin_fail("共有アドレス帳に " + a + " 番の項目はありません。");
        return false;
    }
    return true;
}

bool has_control(const std::string& text) {
    for (unsigned char c : text)
        if (c < 0x20 || c == 0x7F) return true;
    return false;
}

} // namespace

int admin_shared_book_list(AdminContext& ctx) {
    if (!ctx.args.empty()) return admin_fail("使い方: tarnbox shared-book list");
    if (int r = open_store(ctx, false)) return r;
    std::vector<SharedBookRow> rows;
    if (load_shared_book(book_path(ctx), rows) < 0) return 1;
    for (size_t i = 0; i < rows.size(); i++)
        printf("%zu\t%s\t%s\n", i + 1, sjis_to_utf8(rows[i].name).c_str(),
               sjis_to_utf8(rows[i].address).c_str());
    return 0;
}

int admin_shared_book_add(AdminContext& ctx) {
    std::string name, address;
    const auto& args = ctx.args;
    // Options come in pairs: a name and its value.
    for (size_t i = 0; i < args.size(); i += 2) {
        bool is_name = args[i] == "--name";
        if (!is_name && args[i] != "--mail-address")
            return admin_fail("shared-book add: 不明なオプションです: " + args[i]);
        if (i + 1 >= args.size()) return admin_fail(args[i] + ": 値がありません。");
        if (!take_text(args[i], args[i + 1], is_name ? 39 : 79, is_name ? name : address)) return 1;
    }
    if (address.empty() || !ValidAddress(address.c_str()))
        return admin_fail("メールアドレスを入力してください");
    // The file has no escaping: these would split or garble the entry.
    if (!IsValidBookName(name.c_str()) || has_control(name))
        return admin_fail("名前に < > ( ) , @ は使えません");
    std::vector<SharedBookRow> rows;
    if (int r = open_book(ctx, rows)) return r;
    rows.push_back({name, "<" + address + ">"});
    return save(ctx, rows);
}

int admin_shared_book_up(AdminContext& ctx) {
    std::vector<SharedBookRow> rows;
    if (int r = open_book(ctx, rows)) return r;
    size_t n;
    if (!entry_number(ctx, "up", rows.size(), n)) return 1;
    if (n == 1) return admin_fail("先頭の項目はこれ以上上へ移動できません。");
    std::swap(rows[n - 2], rows[n - 1]);
    return save(ctx, rows);
}

int admin_shared_book_down(AdminContext& ctx) {
    std::vector<SharedBookRow> rows;
    if (int r = open_book(ctx, rows)) return r;
    size_t n;
    if (!entry_number(ctx, "down", rows.size(), n)) return 1;
    if (n == rows.size()) return admin_fail("最後の項目はこれ以上下へ移動できません。");
    std::swap(rows[n - 1], rows[n]);
    return save(ctx, rows);
}

int admin_shared_book_delete(AdminContext& ctx) {
    std::vector<SharedBookRow> rows;
    if (int r = open_book(ctx, rows)) return r;
    size_t n;
    if (!entry_number(ctx, "delete", rows.size(), n)) return 1;
    rows.erase(rows.begin() + static_cast<std::ptrdiff_t>(n - 1));
    return save(ctx, rows);
}

int admin_shared_book_sort(AdminContext& ctx) {
    if (ctx.args.size() != 1 || (ctx.args[0] != "name" && ctx.args[0] != "address"))
        return admin_fail("使い方: tarnbox shared-book sort name|address");
    std::vector<SharedBookRow> rows;
    if (int r = open_book(ctx, rows)) return r;
    sort_shared_book(rows, ctx.args[0] == "address");
    return save(ctx, rows);
}
