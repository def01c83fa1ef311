#include "store/user_slot.h"
#include "base/atomic_file.h"
#include "store/down_cursor.h"
#include "store/scramble.h"
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

using SlotCursor = DownCursor;

template <size_t N> void put_rolling(SlotCursor& c, const char (&s)[N]) {
    c.put_rolling(s, strnlen(s, N - 1), false);
}

template <size_t N> bool get_rolling(SlotCursor& c, char (&dst)[N]) {
    return c.get_rolling(dst, static_cast<int>(N));
}

enum class BookItem { none, overflow, inline_text };

void encode_set(SlotCursor& c, const SettingsSet& set, BookItem book, const std::string& text) {
    c.put_fixed_string(set.id);
    c.step = xor_sum(reinterpret_cast<const uint8_t*>(set.id), static_cast<int>(strlen(set.id)));
    put_rolling(c, set.password);
    put_rolling(c, set.name);
    put_rolling(c, set.mail_address);
    put_rolling(c, set.smtp_name);
    c.put_word16(set.smtp_port);
    put_rolling(c, set.pop3_name);
    c.put_word16(set.pop3_port);
    c.put_rolling(set.signature, strnlen(set.signature, sizeof set.signature - 1), true);
    put_rolling(c, set.quotation);
    switch (book) {
    case BookItem::none:
        c.put_byte(0);
        break;
    case BookItem::overflow:
        c.put_byte(1);
        c.put_byte(0);
        c.put_byte(0);
        break;
    case BookItem::inline_text:
        c.put_rolling(text.data(), text.size(), true);
        break;
    }
    put_rolling(c, set.reserved_a);
    put_rolling(c, set.reserved_b);
    c.put_byte(set.apop_flag);
    c.put_byte(set.mail_security);
    c.put_byte(set.smtp_auth);
}

bool encode_all(const UserRecord& r, uint8_t file_key, BookItem book, uint8_t* slot) {
    fill_random(slot, kSlotSize);
    SlotCursor c{slot, kSlotSize - 1, 0, file_key};
    for (int s = 0; s < kSettingsSets; s++)
        encode_set(c, r.set[s], s == 0 ? book : BookItem::none, r.address_book);
    c.q--; // one filler byte
    if (c.room(kOptionBytes)) {
        scramble_rolling(c.buf + c.q, r.options, file_key, c.step, kOptionBytes, -1);
        c.q -= kOptionBytes;
    }
    return c.ok;
}

bool read_whole_file(const std::string& path, std::string& out) {
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return false;
    out.clear();
    char buf[8192];
    size_t n;
    // A personal book is a few kilobytes; refuse absurd files instead of
    // exhausting memory.
    while ((n = fread(buf, 1, sizeof buf, f)) > 0 && out.size() < (16u << 20)) out.append(buf, n);
    bool ok = !ferror(f) && out.size() < (16u << 20);
    fclose(f);
    return ok;
}

} // namespace

bool overflow_book_path(const char* user_folder, const char* id, std::string& path_r) {
    if (!id[0] || strchr(id, '/') || strcmp(id, ".") == 0 || strcmp(id, "..") == 0) return false;
    path_r = std::string(user_folder) + "/" + id + ".adr";
    return true;
}

int encode_user_slot(const UserRecord& r, uint8_t file_key, const char* user_folder,
                     uint8_t (&slot)[kSlotSize]) {
    std::string path;
    bool have_path = overflow_book_path(user_folder, r.set[0].id, path);
    const std::string& book = r.address_book;
    if (book.empty())
        return encode_all(r, file_key, BookItem::none, slot) ? kSlotOk : kSlotTooLarge;
    if (static_cast<int>(book.size()) <= kBookInSlot)
        return encode_all(r, file_key, BookItem::inline_text, slot) ? kSlotOk : kSlotTooLarge;
    // Fit first, then touch the overflow file, so a refused record leaves the
    // old book file as it was.
    if (!encode_all(r, file_key, BookItem::overflow, slot)) return kSlotTooLarge;
    // A rewrite of the whole table passes every user through here; an
    // unchanged book file is left alone instead of being flushed again.
    std::string current;
    if (have_path && read_whole_file(path, current) && current == book) return kSlotOk;
    if (have_path && write_file_atomically(path, book, 0600)) return kSlotOk;
    return encode_all(r, file_key, BookItem::inline_text, slot) ? kSlotOk : kSlotTooLarge;
}

void drop_stale_overflow_book(const UserRecord& r, const char* user_folder) {
    std::string path;
    if (r.address_book.empty() || static_cast<int>(r.address_book.size()) > kBookInSlot) return;
    if (overflow_book_path(user_folder, r.set[0].id, path)) unlink(path.c_str());
}

int decode_user_slot(const uint8_t (&slot)[kSlotSize], uint8_t file_key, const char* user_folder,
                     UserRecord& r) {
    SlotCursor c{const_cast<uint8_t*>(slot), kSlotSize - 1, 0, file_key};
    bool book_in_file = false;
    for (int s = 0; s < kSettingsSets; s++) {
        SettingsSet& set = r.set[s];
        const int idLength = c.get_fixed_string(set.id, sizeof set.id);
        if (idLength < 0 || idLength >= static_cast<int>(sizeof set.id)) return kSlotBadId;
        c.step =
            xor_sum(reinterpret_cast<const uint8_t*>(set.id), static_cast<int>(strlen(set.id)));
        if (!get_rolling(c, set.password) || !get_rolling(c, set.name) ||
            !get_rolling(c, set.mail_address) || !get_rolling(c, set.smtp_name))
            return kSlotBadField;
        set.smtp_port = c.get_word16();
        if (!get_rolling(c, set.pop3_name)) return kSlotBadField;
        set.pop3_port = c.get_word16();
        if (!c.room(2)) return kSlotBadField;
        int sig = slot[c.q] | slot[c.q - 1] << 8;
        if (sig >= static_cast<int>(sizeof set.signature) || !c.room(sig + 2)) return kSlotBadField;
        scramble_rolling(reinterpret_cast<uint8_t*>(set.signature), slot + c.q - 2, file_key,
                         c.step, sig, 1);
        set.signature[sig] = 0;
        c.q -= sig + 2;
        if (!get_rolling(c, set.quotation)) return kSlotBadField;
        if (s == 0) {
            if (!c.room(2)) return kSlotBadField;
            int v = slot[c.q] | slot[c.q - 1] << 8;
            if (v == 0) {
                c.q -= 1;
            } else if (v == 1 && c.room(3) && slot[c.q - 2] == 0) {
                book_in_file = true;
                c.q -= 3;
            } else {
                if (!c.room(v + 2)) return kSlotBadField;
                r.address_book.resize(v);
                scramble_rolling(reinterpret_cast<uint8_t*>(r.address_book.data()), slot + c.q - 2,
                                 file_key, c.step, v, 1);
                c.q -= v + 2;
            }
        } else {
            c.get_byte();
        }
        if (!get_rolling(c, set.reserved_a) || !get_rolling(c, set.reserved_b))
            return kSlotBadField;
        // Settings 1's empty book item is a single 0 whose neighbour is this
        // string's length, so text kept here would read back as a book once
        // the record is written without one.
        if (s == 0) set.reserved_a[0] = '\0';
        set.apop_flag = c.get_byte();
        set.mail_security = c.get_byte();
        set.smtp_auth = c.get_byte();
    }
    c.q--;
    if (!c.room(kOptionBytes)) return kSlotBadField;
    scramble_rolling(r.options, slot + c.q, file_key, c.step, kOptionBytes, 1);
    if (r.options[upload_no] == 0) r.options[upload_no] = 1;
    if (book_in_file) {
        std::string path;
        if (!overflow_book_path(user_folder, r.set[0].id, path) ||
            !read_whole_file(path, r.address_book))
            r.address_book.clear();
    }
    return kSlotOk;
}
