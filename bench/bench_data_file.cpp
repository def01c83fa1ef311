// Speed of the data-file store on a file of 100 users, against the plainest
// job the same write path can do: read the whole file and write it back
// through write_file_atomically (temporary file, fsync, rename, folder fsync).
//
//   load_data_file      read and decode the header and every slot
//   rewrite_data_file   encode every slot and replace the file
//   write_user_slot     encode one slot and replace the file
//
// Each figure is the best of several repetitions, ours and the plain job run
// alternately so load from other processes falls on both alike. The ratio is
// ours / plain: near 1 means the file system, not the store, sets the pace.

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "base/atomic_file.h"
#include "store/data_file.h"

namespace {

constexpr int kUsers = 100;
constexpr int kRepetitions = 15;

using Clock = std::chrono::steady_clock;

double ms_since(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void put(char* dst, size_t cap, const std::string& s) {
    size_t n = std::min(s.size(), cap - 1);
    memcpy(dst, s.data(), n);
    dst[n] = 0;
}

// Shift_JIS names, as the gateway stores them.
const char* const kFamily[] = {"\x8d\xb2\x93\xa1", "\x97\xe9\x96\xd8", "\x93\x63\x92\x86",
                               "\x8d\x82\x8b\xb4", "\x88\xc9\x93\xa1", "\x93\x6e\x95\xd3",
                               "\x8f\xac\x97\xd1", "\x89\xc1\x93\xa1", "\x8e\x52\x93\x63"};
const char* const kGiven[] = {"\x91\xbe\x98\x59", "\x89\xd4\x8e\x71", "\x8c\x92",
                              "\x94\xfc\x8d\xe7", "\xe3\xc4\x91\xbe", "\x97\x7a\x8e\x71"};
const char* const kCompany = "\x8a\x94\x8e\xae\x89\xef\x8e\xd0"
                             "Example "
                             "\x89\x63\x8b\xc6\x95\x94";

std::string book_of(int entries, int seed) {
    std::string book;
    for (int e = 0; e < entries; e++) {
        if (!book.empty()) book += ",";
        book += std::string(kFamily[(seed + e) % 9]) + kGiven[(seed * 7 + e) % 6] + " <contact" +
                std::to_string(seed * 100 + e) + "@partner" + std::to_string(e % 13) +
                ".example.co.jp>";
    }
    return book;
}

// Realistic sizes: a full first set, a second set for every third user, a
// third for every tenth, a book for every fourth and a long book (overflow
// file) for every twentieth.
UserRecord* make_user(int i) {
    auto* r = new UserRecord();
    set_default_options(*r);
    const std::string name = std::string(kFamily[i % 9]) + " " + kGiven[i % 6];
    const std::string id = "user" + std::to_string(1000 + i);
    for (int s = 0; s < (i % 10 == 0 ? 3 : i % 3 == 0 ? 2 : 1); s++) {
        SettingsSet& set = r->set[s];
        put(set.id, sizeof set.id, s == 0 ? id : id + "-" + std::to_string(s));
        put(set.password, sizeof set.password, "Pw" + std::to_string(i * 7919 + s) + "!x");
        put(set.name, sizeof set.name, name);
        put(set.mail_address, sizeof set.mail_address,
            id + "@mail" + std::to_string(s) + ".example.co.jp");
        put(set.smtp_name, sizeof set.smtp_name, i % 2 ? "" : "smtp.example.co.jp");
        put(set.pop3_name, sizeof set.pop3_name, i % 2 ? "" : "pop3.example.co.jp");
        put(set.signature, sizeof set.signature,
            "--\r\n" + name + "\r\n" + kCompany + "\r\nTel 03-5555-" + std::to_string(1000 + i) +
                "  Fax 03-5555-9999\r\nmailto:" + id + "@mail.example.co.jp\r\n");
        put(set.quotation, sizeof set.quotation, "> ");
        set.apop_flag = i % 2;
    }
    if (i % 20 == 7)
        r->address_book = book_of(60, i); // about 2.7 KB: overflow file
    else if (i % 4 == 1)
        r->address_book = book_of(5 + i % 25, i);
    return r;
}

std::string read_all(const std::string& path) {
    std::string out;
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return out;
    char buf[65536];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
    close(fd);
    return out;
}

template <class F> double best_ms(F&& f) {
    double best = 1e12;
    for (int i = 0; i < kRepetitions; i++) best = std::min(best, f());
    return best;
}

template <class Ours, class Plain>
std::pair<double, double> best_pair_ms(Ours&& ours, Plain&& plain) {
    double best_ours = 1e12, best_plain = 1e12;
    for (int i = 0; i < kRepetitions; i++) {
        best_ours = std::min(best_ours, ours());
        best_plain = std::min(best_plain, plain());
    }
    return {best_ours, best_plain};
}

void report(const char* name, int users, double ours, double plain) {
    std::printf("%-20s %9.3f ms  %10.0f users/s   plain read+write %8.3f ms   ours/plain %5.2f\n",
                name, ours, users / (ours / 1000.0), plain, ours / plain);
}

} // namespace

int main() {
    char tmpl[] = "/tmp/tarnbox-bench-XXXXXX";
    if (!mkdtemp(tmpl)) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string home = tmpl;
    DataStore& ds = data_store();
    ds.data_path = home + "/tarnbox.dat";
    ds.user_folder = home + "/user";
    std::filesystem::create_directory(ds.user_folder);
    ds.report = [](std::string_view m) {
        std::fprintf(stderr, "store: %.*s\n", int(m.size()), m.data());
    };

    set_default_settings(ds.settings, ds.user_folder.c_str());
    if (create_data_file(ds) != 1) return 1;
    for (int i = 0; i < kUsers; i++) append_user(ds.users, make_user(i));
    renumber_users(ds.users);
    if (rewrite_data_file(ds) != 1) return 1;
    const size_t file_size = read_all(ds.data_path).size();
    int overflow = 0;
    for (auto& e : std::filesystem::directory_iterator(ds.user_folder))
        overflow += e.path().extension() == ".adr";
    std::printf("data file: %d users, %zu bytes, %d overflow books, best of %d\n", kUsers,
                file_size, overflow, kRepetitions);

    // The reference: the same bytes read and written back through the same
    // atomic path, with no decoding or encoding.
    auto plain = [&] {
        const auto start = Clock::now();
        std::string bytes = read_all(ds.data_path);
        if (!write_file_atomically(ds.data_path, bytes, 0600)) std::abort();
        return ms_since(start);
    };

    int loaded = 0;
    auto [load_ms, load_plain] = best_pair_ms(
        [&] {
            const auto start = Clock::now();
            if (load_data_file(ds) != kLoadOk) std::abort();
            double ms = ms_since(start);
            loaded = count_users(ds.users);
            return ms;
        },
        plain);
    if (loaded != kUsers) {
        std::printf("MISMATCH: loaded %d users\n", loaded);
        return 1;
    }
    report("load_data_file", kUsers, load_ms, load_plain);
    // Loading writes nothing, so a read alone is its fairer yardstick.
    const double read_ms = best_ms([&] {
        const auto start = Clock::now();
        if (read_all(ds.data_path).size() != file_size) std::abort();
        return ms_since(start);
    });
    std::printf("%-20s %9.3f ms   (load_data_file / plain read %5.2f)\n", "plain read", read_ms,
                load_ms / read_ms);

    auto [rewrite_ms, rewrite_plain] = best_pair_ms(
        [&] {
            const auto start = Clock::now();
            if (rewrite_data_file(ds) != 1) std::abort();
            return ms_since(start);
        },
        plain);
    report("rewrite_data_file", kUsers, rewrite_ms, rewrite_plain);

    UserRecord* middle = find_user(ds.users, "user1050");
    int round = 0;
    auto [slot_ms, slot_plain] = best_pair_ms(
        [&] {
            put(middle->set[0].password, sizeof middle->set[0].password,
                "changed" + std::to_string(round++));
            const auto start = Clock::now();
            if (write_user_slot(ds, *middle) != 1) std::abort();
            return ms_since(start);
        },
        plain);
    report("write_user_slot", 1, slot_ms, slot_plain);

    clear_users(ds.users);
    std::filesystem::remove_all(home);
    return 0;
}
