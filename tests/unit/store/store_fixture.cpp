#include "store/store_fixture.h"
#include "scratch_folder.h"
#include "server/server_cases.h"
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string_view>

namespace fs = std::filesystem;

namespace store_test {

namespace {

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
std::string sample(const std::string& name) {
    static const std::string all = GOLDEN("samples.ref");
    const std::string head = "=== " + name + "\n";
    const size_t from = all.find(head);
    EXPECT_NE(from, std::string::npos) << "no sample " << name;
    if (from == std::string::npos) return "";
    const size_t begin = from + head.size(), end = all.find("\n===", begin);
    return all.substr(begin, end == std::string::npos ? end : end + 1 - begin);
}

} // namespace

std::unique_ptr<UserRecord> sample_record(const std::string& name, const std::string& id) {
    auto r = std::make_unique<UserRecord>();
    each_item(*r, Undump(sample(name), id));
    return r;
}

std::unique_ptr<UserRecord> sample_user(const std::string& id, int variant) {
    return sample_record("user " + std::to_string(variant), id);
}

void apply_sample(BasicSettings& s, const std::string& name) {
    each_item(s, Undump(sample(name), ""));
}

void set_fields(UserRecord& r, const std::string& lines) {
    each_item(r, Undump(lines, ""));
}

BasicSettings sample_settings(const std::string& user_folder) {
    BasicSettings s;
    set_default_settings(s, user_folder.c_str());
    apply_sample(s, "settings");
    return s;
}

std::string book_of_length(size_t n) {
    std::string out;
    while (out.size() < n)
        out += "\x8e\x52\x93\x63 <yamada@example.jp>,Bob Smith <bob@example.com>,";
    out.resize(n);
    return out;
}

std::unique_ptr<UserRecord> copy_of(const UserRecord& r) {
    auto c = std::make_unique<UserRecord>();
    each_item(*c, Undump(dump(r), "{id}"));
    return c;
}

std::vector<std::string> changes(const std::string& got, const std::string& base) {
    std::istringstream g(got), b(base);
    std::vector<std::string> out;
    for (std::string gl, bl; std::getline(g, gl);)
        if (!std::getline(b, bl) || gl != bl) out.push_back(gl);
    return out;
}

std::string image(const std::string& name) {
    std::string bytes = GOLDEN("images/" + name);
    EXPECT_FALSE(bytes.empty()) << "no golden image " << name;
    return bytes;
}

std::string piece(const std::string& bytes, size_t k, size_t n) {
    return bytes.size() < (k + 1) * n ? std::string() : bytes.substr(k * n, n);
}

DataFileKey key_of(const std::string& header) {
    DataFileKey key{};
    key.length = static_cast<uint8_t>(header.at(kKeyLengthOffset));
    memcpy(key.prefix, header.data(), key.length);
    uint8_t x = 0;
    for (int i = 0; i < key.length; i++) x ^= key.prefix[i];
    key.file_key = x ? x : 0x78;
    return key;
}

void DataStoreTest::SetUp() {
    home = MakeScratchFolder("store", {"user"});
    ASSERT_FALSE(home.empty());
    ds.data_path = home + "/tarnbox.dat";
    ds.user_folder = home + "/user";
    ds.report = [this](std::string_view m) { messages.emplace_back(m); };
}

void DataStoreTest::TearDown() {
    clear_users(ds.users);
    std::error_code ec;
    fs::permissions(home, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(home, ec);
}

void DataStoreTest::put_file(const std::string& path, const std::string& bytes) {
    WriteFile(path, bytes);
}

int DataStoreTest::load(const std::string& file) {
    put_file(ds.data_path, file);
    return load_data_file(ds);
}

std::vector<UserRecord*> DataStoreTest::users() {
    std::vector<UserRecord*> out;
    for (UserRecord* r = ds.users.head.link; r; r = r->link) out.push_back(r);
    return out;
}

void DataStoreTest::expect_users(const Users& want) {
    auto got = users();
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < got.size(); i++) {
        EXPECT_EQ(got[i]->position, static_cast<int>(i));
        EXPECT_EQ(dump_diff(*got[i], *want[i]), "") << "user " << i;
    }
}

} // namespace store_test
