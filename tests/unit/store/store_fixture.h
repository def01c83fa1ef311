// Shared pieces of the store tests: a DataStore in a fresh temporary home,
// sample users and settings, and the golden data-file images in images/.
#pragma once
#include "scratch_folder.h"
#include "server/server_cases.h"
#include "server_golden.h"
#include "store/data_file.h"
#include "store/record_dump.h"
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace store_test {

// Sets the fields the lines of a dump name, "{id}" in their values standing
// for id; the others keep their values.
struct Undump {
    std::map<std::string, std::string> values;
    Undump(const std::string& lines, const std::string& id) {
        std::istringstream in(lines);
        for (std::string line; std::getline(in, line);) {
            const size_t eq = line.find('=');
            std::string value = server_cases::Unescape(line.substr(eq + 1));
            for (size_t at = 0; (at = value.find("{id}", at)) != std::string::npos; at += id.size())
                value.replace(at, 4, id);
            values[line.substr(0, eq)] = value;
        }
    }
    template <class T> void operator()(const std::string& field, const T& v) {
        const auto it = values.find(field);
        if (it == values.end()) return;
        T& to = const_cast<T&>(v); // the walk hands out const fields of our own record
        if constexpr (std::is_array_v<T>) {
            ASSERT_LT(it->second.size(), sizeof to) << field;
            memcpy(to, it->second.c_str(), it->second.size() + 1);
        } else if constexpr (std::is_same_v<T, std::string>) {
            to = it->second;
        } else {
            to = static_cast<T>(std::stoll(it->second));
        }
    }
};

// The part of samples.ref under "=== name".
inline std::string sample(const std::string& name) {
    static const std::string all = GOLDEN("samples.ref");
    const std::string head = "=== " + name + "\n";
    const size_t from = all.find(head);
    EXPECT_NE(from, std::string::npos) << "no sample " << name;
    if (from == std::string::npos) return "";
    const size_t begin = from + head.size(), end = all.find("\n===", begin);
    return all.substr(begin, end == std::string::npos ? end : end + 1 - begin);
}

// The record under that name in samples.ref.
inline std::unique_ptr<UserRecord> sample_record(const std::string& name, const std::string& id) {
    auto r = std::make_unique<UserRecord>();
    each_item(*r, Undump(sample(name), id));
    return r;
}

// Sets the fields of a record or of the settings that dump lines
// ("set1.id=x", "http_port=80") name.
template <class T> void set_fields(T& r, const std::string& lines) {
    each_item(r, Undump(lines, ""));
}

// Sample content in the shapes real users have. Variant picks one of several
// people; Japanese names are Shift_JIS bytes.
inline std::unique_ptr<UserRecord> sample_user(const std::string& id, int variant = 0) {
    return sample_record("user " + std::to_string(variant), id);
}

inline BasicSettings sample_settings(const std::string& user_folder) {
    BasicSettings s;
    set_default_settings(s, user_folder.c_str());
    set_fields(s, sample("settings"));
    return s;
}

// Address-list text, Shift_JIS names included, cut to n bytes.
inline std::string book_of_length(size_t n) {
    std::string out;
    while (out.size() < n)
        out += "\x8e\x52\x93\x63 <yamada@example.jp>,Bob Smith <bob@example.com>,";
    out.resize(n);
    return out;
}

// Copies the stored fields (records hold atomics and cannot be copied).
inline std::unique_ptr<UserRecord> copy_of(const UserRecord& r) {
    auto c = std::make_unique<UserRecord>();
    each_item(*c, Undump(dump(r), "{id}"));
    return c;
}

// Empty when a record or the settings got holds what want holds; otherwise
// where they part.
template <class T> std::string dump_diff(const T& got, const T& want) {
    return golden::compare("dump", dump(want), dump(got));
}

// A golden image from images/, and its k-th piece of n bytes.
inline std::string image(const std::string& name) {
    std::string bytes = GOLDEN("images/" + name);
    EXPECT_FALSE(bytes.empty()) << "no golden image " << name;
    return bytes;
}

inline std::string piece(const std::string& bytes, size_t k, size_t n) {
    return bytes.size() < (k + 1) * n ? std::string() : bytes.substr(k * n, n);
}

// The key an image's header carries in its prefix and length byte.
inline DataFileKey key_of(const std::string& header) {
    DataFileKey key{};
    key.length = static_cast<uint8_t>(header.at(kKeyLengthOffset));
    memcpy(key.prefix, header.data(), key.length);
    uint8_t x = 0;
    for (int i = 0; i < key.length; i++) x ^= key.prefix[i];
    key.file_key = x ? x : 0x78;
    return key;
}

using Users = std::vector<std::unique_ptr<UserRecord>>;

class DataStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        home = MakeScratchFolder("store", {"user"});
        ASSERT_FALSE(home.empty());
        ds.data_path = home + "/tarnbox.dat";
        ds.user_folder = home + "/user";
        ds.report = [this](std::string_view m) { messages.emplace_back(m); };
    }
    void TearDown() override {
        clear_users(ds.users);
        std::error_code ec;
        std::filesystem::permissions(home, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
        std::filesystem::remove_all(home, ec);
    }
    // Writes file as the data file and loads it.
    int load(const std::string& file) {
        WriteFile(ds.data_path, file);
        return load_data_file(ds);
    }
    std::vector<UserRecord*> users() {
        std::vector<UserRecord*> out;
        for (UserRecord* r = ds.users.head.link; r; r = r->link) out.push_back(r);
        return out;
    }
    // The loaded users are want, numbered in file order.
    void expect_users(const Users& want) {
        auto got = users();
        ASSERT_EQ(got.size(), want.size());
        for (size_t i = 0; i < got.size(); i++) {
            EXPECT_EQ(got[i]->position, static_cast<int>(i));
            EXPECT_EQ(dump_diff(*got[i], *want[i]), "") << "user " << i;
        }
    }
    // The data file read back anew holds want.
    void expect_reload(const Users& want) {
        ASSERT_EQ(load_data_file(ds), kLoadOk);
        expect_users(want);
    }
    std::string adr_path(const std::string& id) { return ds.user_folder + "/" + id + ".adr"; }

    std::string home;
    DataStore ds;
    std::vector<std::string> messages;
};

} // namespace store_test
