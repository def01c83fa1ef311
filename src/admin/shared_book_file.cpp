#include "admin/shared_book_file.h"
#include "base/atomic_file.h"

#include "admin/admin_context.h"
#include "base/charset/sjis.h"
#include "base/console_text.h"
#include "base/global_lock.h"
#include "mail/book/book_entries.h"
#include "store/data_file.h"
#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <unistd.h>

namespace {

std::string sort_key(const std::string& column) {
    size_t i = 0;
    while (i < column.size()) {
        size_t n =
            is_sjis_lead(static_cast<unsigned char>(column[i])) && i + 1 < column.size() ? 2 : 1;
        if (i + n > kSharedBookSortBytes) break;
        i += n;
    }
    return sjis_to_utf8(std::string_view(column).substr(0, i));
}

// Applies the collation for the lifetime of the object and restores the
// one before, so the process's other text handling is not affected.
class Collation {
public:
    Collation() {
        const char* now = setlocale(LC_COLLATE, nullptr);
        saved_ = now ? now : "C";
        const char* chosen = setlocale(LC_COLLATE, "");
        if (!chosen || strcmp(chosen, "C") == 0 || strcmp(chosen, "POSIX") == 0)
            setlocale(LC_COLLATE, "C.UTF-8");
    }
    ~Collation() { setlocale(LC_COLLATE, saved_.c_str()); }
    Collation(const Collation&) = delete;
    Collation& operator=(const Collation&) = delete;

private:
    std::string saved_;
};

} // namespace

std::vector<SharedBookRow> parse_shared_book(std::string_view text) {
    std::vector<SharedBookRow> rows;
    for_each_book_entry(text, [&rows](const char* entry, size_t length) {
        BookEntryParts p = book_entry_parts(entry, length);
        std::string address = "<";
        address.append(p.address, p.addressLength).push_back('>');
        rows.push_back({std::string(p.name, p.nameLength), std::move(address)});
    });
    return rows;
}

std::string join_shared_book(const std::vector<SharedBookRow>& rows) {
    std::string text;
    for (const SharedBookRow& r : rows) {
        if (!text.empty()) text += ',';
        text += r.name;
        text += r.address;
    }
    return text;
}

int load_shared_book(const std::string& path, std::vector<SharedBookRow>& rows_r) {
    rows_r.clear();
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) {
        if (errno == ENOENT) return 0;
        admin_fail("共有アドレス帳 " + path + " を開けません: " + strerror(errno));
        return -1;
    }
    std::string text;
    char buf[8192];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
    bool failed = ferror(f) != 0;
    fclose(f);
    if (failed) {
        admin_fail("共有アドレス帳 " + path + " を読めません。");
        return -1;
    }
    rows_r = parse_shared_book(text);
    return 1;
}

int save_shared_book(const std::string& path, const std::vector<SharedBookRow>& rows) {
    std::lock_guard<std::recursive_mutex> hold(globalLock);
    if (rows.empty()) {
        if (unlink(path.c_str()) == 0 || errno == ENOENT) return 1;
        admin_fail("共有アドレス帳 " + path + " を削除できません: " + strerror(errno));
        return -1;
    }
    std::string text = join_shared_book(rows);
    if (!write_file_atomically(path, text, 0600)) {
        admin_fail("共有アドレス帳 " + path + " を書けません: " + strerror(errno));
        return -1;
    }
    return 1;
}

void sort_shared_book(std::vector<SharedBookRow>& rows, bool by_address) {
    std::vector<std::pair<std::string, SharedBookRow>> keyed;
    keyed.reserve(rows.size());
    for (SharedBookRow& r : rows) {
        std::string key = sort_key(by_address ? r.address : r.name);
        keyed.emplace_back(std::move(key), std::move(r));
    }
    {
        Collation collation;
        std::stable_sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) {
            return strcoll(a.first.c_str(), b.first.c_str()) < 0;
        });
    }
    for (size_t i = 0; i < rows.size(); i++) rows[i] = std::move(keyed[i].second);
}
