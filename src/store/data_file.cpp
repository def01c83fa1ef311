#include "store/data_file.h"
#include "base/atomic_file.h"
#include "base/console_text.h"
#include "store/scramble.h"
#include "store/user_slot.h"
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

DataStore& data_store() {
    static DataStore ds;
    return ds;
}

namespace {

void say(const DataStore& ds, const std::string& text) {
    if (ds.report) ds.report(text);
}

// Reads the whole file; false when it cannot be opened or read.
bool read_file(const std::string& path, std::string& out) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    out.clear();
    char buf[65536];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
    int saved = errno;
    close(fd);
    errno = saved;
    return n == 0;
}

std::string folder_of(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string error_text() {
    return std::strerror(errno);
}

} // namespace

int load_data_file(DataStore& ds) {
    using namespace std::chrono;
    seed_random(static_cast<uint32_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count()));
    set_default_settings(ds.settings, ds.user_folder.c_str());
    clear_users(ds.users);
    ds.slots_in_sync = true;

    std::string file;
    if (!read_file(ds.data_path, file)) {
        if (errno == ENOENT) return kLoadAbsent;
        say(ds, "データファイル " + ds.data_path + " を読めません: " + error_text());
        return kLoadFailed;
    }
    if (file.size() < kHeaderSize) {
        say(ds, "データファイル " + ds.data_path + " が壊れています (" +
                    std::to_string(file.size()) + " バイトしかありません)。");
        return kLoadFailed;
    }
    uint8_t header[kHeaderSize];
    memcpy(header, file.data(), kHeaderSize);
    decode_header(header, ds.settings, ds.key, ds.user_folder.c_str(), ds.report);

    int loaded = 0;
    for (size_t off = kHeaderSize; off + kSlotSize <= file.size(); off += kSlotSize) {
        uint8_t slot[kSlotSize];
        memcpy(slot, file.data() + off, kSlotSize);
        UserRecord* r = new UserRecord();
        int result = decode_user_slot(slot, ds.key.file_key, ds.user_folder.c_str(), *r);
        if (result == kSlotOk) {
            append_user(ds.users, r);
            loaded++;
            continue;
        }
        if (result == kSlotBadId)
            say(ds, std::to_string(loaded + 1) +
                        " 番目のユーザーのデータが壊れています。\n削除します。");
        else
            say(ds, "ユーザー " + sjis_to_utf8(r->set[0].id) +
                        " のデータが壊れています。\n削除します。");
        delete r;
        ds.slots_in_sync = false;
    }
    renumber_users(ds.users);
    // Without the secrets the mail still works for every set that needs
    // none; the message says why the others cannot log in.
    ds.credentials.set_paths(ds.user_folder + "/mail-credentials",
                             folder_of(ds.data_path) + "/credentials.key");
    std::string why;
    if (!ds.credentials.load(why)) say(ds, why);
    return kLoadOk;
}

int create_data_file(DataStore& ds) {
    make_file_key(ds.key);
    uint8_t header[kHeaderSize];
    if (encode_header(ds.settings, ds.key, header) != 1) {
        say(ds, "パスの指定が長すぎます。");
        return -1;
    }
    if (!write_file_atomically(
            ds.data_path, std::string_view(reinterpret_cast<const char*>(header), sizeof header),
            0600)) {
        say(ds, "データファイル " + ds.data_path + " を書けません: " + error_text());
        return -1;
    }
    ds.slots_in_sync = true;
    return 1;
}

int save_basic_settings(DataStore& ds) {
    uint8_t header[kHeaderSize];
    if (encode_header(ds.settings, ds.key, header) != 1) {
        say(ds, "パスの指定が長すぎます。");
        return -1;
    }
    std::string file;
    if (!read_file(ds.data_path, file) && errno != ENOENT) {
        say(ds, "データファイル " + ds.data_path + " を読めません: " + error_text());
        return -1;
    }
    if (file.size() < kHeaderSize) file.resize(kHeaderSize);
    memcpy(file.data(), header, kHeaderSize);
    if (!write_file_atomically(ds.data_path, file, 0600)) {
        say(ds, "データファイル " + ds.data_path + " を書けません: " + error_text());
        return -1;
    }
    return 1;
}

int write_user_slot(DataStore& ds, const UserRecord& r) {
    if (!ds.slots_in_sync) return rewrite_data_file(ds);
    uint8_t slot[kSlotSize];
    if (encode_user_slot(r, ds.key.file_key, ds.user_folder.c_str(), slot) != kSlotOk) {
        say(ds, "ユーザー " + sjis_to_utf8(r.set[0].id) +
                    " の設定が長すぎてデータファイルに収まりません。");
        return kSlotTooLarge;
    }
    std::string file;
    if (!read_file(ds.data_path, file)) {
        say(ds, "データファイル " + ds.data_path + " を読めません: " + error_text());
        return -1;
    }
    size_t off = kHeaderSize + static_cast<size_t>(kSlotSize) * r.position;
    if (file.size() < off) return rewrite_data_file(ds);
    if (file.size() < off + kSlotSize) file.resize(off + kSlotSize);
    memcpy(file.data() + off, slot, kSlotSize);
    if (!write_file_atomically(ds.data_path, file, 0600)) {
        say(ds, "データファイル " + ds.data_path + " を書けません: " + error_text());
        return -1;
    }
    drop_stale_overflow_book(r, ds.user_folder.c_str());
    return 1;
}

int rewrite_data_file(DataStore& ds) {
    std::string old;
    std::string file;
    if (read_file(ds.data_path, old) && old.size() >= kHeaderSize) {
        file.assign(old, 0, kHeaderSize);
    } else {
        uint8_t header[kHeaderSize];
        if (encode_header(ds.settings, ds.key, header) != 1) return -1;
        file.assign(reinterpret_cast<char*>(header), kHeaderSize);
    }
    renumber_users(ds.users);
    for (UserRecord* r = ds.users.head.link; r; r = r->link) {
        uint8_t slot[kSlotSize];
        if (encode_user_slot(*r, ds.key.file_key, ds.user_folder.c_str(), slot) != kSlotOk) {
            say(ds, "ユーザー " + sjis_to_utf8(r->set[0].id) +
                        " の設定が長すぎてデータファイルに収まりません。");
            return -1;
        }
        file.append(reinterpret_cast<char*>(slot), kSlotSize);
    }
    // Slots dropped as corrupt vanish with this rewrite: keep the file they
    // came from so nothing readable by hand is lost.
    if (!ds.slots_in_sync && !old.empty())
        write_file_atomically(ds.data_path + ".damaged", old, 0600);
    if (!write_file_atomically(ds.data_path, file, 0600)) {
        say(ds, "データファイル " + ds.data_path + " を書けません: " + error_text());
        return -1;
    }
    for (UserRecord* r = ds.users.head.link; r; r = r->link)
        drop_stale_overflow_book(*r, ds.user_folder.c_str());
    ds.slots_in_sync = true;
    return 1;
}
