#include "store/store_fixture.h"
#include "scratch_folder.h"
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string_view>

namespace fs = std::filesystem;

namespace store_test {

namespace {

template <size_t N> void put(char (&dst)[N], const std::string& s) {
    ASSERT_LT(s.size(), N) << s;
    memcpy(dst, s.data(), s.size());
    dst[s.size()] = 0;
}

} // namespace

std::unique_ptr<UserRecord> sample_user(const std::string& id, int variant) {
    static const char* const names[] = {"\x97\xe9\x96\xd8\x91\xbe\x98\x59",    // 鈴木太郎
                                        "\x8e\x52\x93\x63",                    // 山田
                                        "Jane Q. Public", "\x8d\xb2\x93\xa1"}; // 佐藤
    const std::string name = names[variant % 4];
    auto r = std::make_unique<UserRecord>();
    SettingsSet& a = r->set[0];
    put(a.id, id);
    put(a.password, "pw-" + std::to_string(variant * 7919) + "-" + id);
    put(a.name, name);
    put(a.mail_address, id + "@mail.example.jp");
    put(a.smtp_name, variant % 2 ? "" : "smtp.example.jp");
    a.smtp_port = 25;
    put(a.pop3_name, variant % 2 ? "" : "pop3.example.jp");
    a.pop3_port = 110;
    put(a.signature, "-- \r\n" + name + "\r\nExample Trading Co., Ltd.\r\nTel 03-1234-5678\r\n");
    put(a.quotation, variant % 3 ? "> " : "| ");
    a.apop_flag = variant % 2;
    if (variant % 3 != 0) {
        SettingsSet& b = r->set[1];
        put(b.id, id + ".home");
        put(b.password, "second" + std::to_string(variant));
        put(b.name, name);
        put(b.mail_address, id + "@home.example.net");
        put(b.smtp_name, "smtp.example.net");
        put(b.pop3_name, "pop.example.net");
        put(b.signature, name + "\r\n");
        put(b.quotation, ">");
    }
    if (variant % 5 == 4) {
        SettingsSet& c = r->set[2];
        put(c.id, "list-" + id);
        put(c.password, "third");
        put(c.mail_address, "list-" + id + "@example.org");
        c.apop_flag = 1;
    }
    const uint8_t options[] = {0, 10, 80, 1, 0, 0, 0, 1, 0, 0, 0, 1};
    std::copy(std::begin(options), std::end(options), r->options);
    r->options[delete_flag] = variant % 2;
    r->options[row_count] = 10 + variant % 21;
    r->options[column_count] = 60 + variant % 141;
    r->options[upload_no] = 1 + variant % 10;
    r->options[delete_link] = (variant / 2) % 2;
    return r;
}

BasicSettings sample_settings(const std::string& user_folder) {
    BasicSettings s;
    set_default_settings(s, user_folder.c_str());
    s.http_port = 8080;
    s.browser_registration = 0;
    s.browser_auth = 1;
    s.multiple_addresses = 1;
    s.per_user_servers = 1;
    for (int i = 0; i < kOptionWordCount; i++) s.*kOptionWords[i] = 3 * i + 5;
    s.fixed_rows = 24;
    s.fixed_columns = 132;
    s.fixed_uploads = 7;
    put(s.smtp_server, "smtp.corp.example.jp");
    s.smtp_port = 587;
    put(s.pop3_server, "pop3.corp.example.jp");
    s.pop3_port = 1110;
    put(s.top_page, "welcome.html");
    put(s.admin_password, "Adm1n!pass");
    for (int i = 0; i < kPageColourCount; i++) s.page_colours[i] = 0x010203u * (i + 1) + (i << 24);
    put(s.background_image, "C:\\tarnbox\\html\\bg.gif");
    put(s.fixed_quotation, ">> ");
    s.log_size_kb = 30000;
    put(s.log_folder, "/var/lib/tarnbox/logs");
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
    std::copy(std::begin(r.set), std::end(r.set), c->set);
    c->address_book = r.address_book;
    std::copy(std::begin(r.options), std::end(r.options), c->options);
    return c;
}

std::vector<std::string> changes(const std::string& got, const std::string& base) {
    std::istringstream g(got), b(base);
    std::vector<std::string> out;
    for (std::string gl, bl; std::getline(g, gl);)
        if (!std::getline(b, bl) || gl != bl) out.push_back(gl);
    return out;
}

std::string record_diff(const UserRecord& got, const UserRecord& want) {
    return golden::compare("record", dump(want), dump(got));
}

std::string settings_diff(const BasicSettings& got, const BasicSettings& want) {
    return golden::compare("settings", dump(want), dump(got));
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
    // A fresh file rather than a truncated one: ext4 flushes truncated files
    // on close, which makes the thousands of loads below crawl.
    std::remove(path.c_str());
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f << bytes;
    ASSERT_TRUE(f.good()) << path;
}

std::string DataStoreTest::get_file(const std::string& path) {
    return golden::read(path);
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

void DataStoreTest::expect_users(const std::vector<const UserRecord*>& want) {
    auto got = users();
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < got.size(); i++) {
        EXPECT_EQ(got[i]->position, static_cast<int>(i));
        EXPECT_EQ(record_diff(*got[i], *want[i]), "") << "user " << i;
    }
}

void DataStoreTest::expect_users_are(const Users& want) {
    std::vector<const UserRecord*> w;
    for (auto& r : want) w.push_back(r.get());
    expect_users(w);
}

} // namespace store_test
