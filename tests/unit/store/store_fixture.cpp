#include "store/store_fixture.h"
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

namespace fs = std::filesystem;

namespace store_test {

namespace img = store_image;

img::SlotDesc sample_user(const std::string& id, int variant) {
    static const char* const names[] = {"\x97\xe9\x96\xd8\x91\xbe\x98\x59",    // 鈴木太郎
                                        "\x8e\x52\x93\x63",                    // 山田
                                        "Jane Q. Public", "\x8d\xb2\x93\xa1"}; // 佐藤
    const std::string name = names[variant % 4];
    img::SlotDesc d;
    d.filler_seed = 100 + variant;
    img::SetDesc& a = d.set[0];
    a.id = id;
    a.password = "pw-" + std::to_string(variant * 7919) + "-" + id;
    a.name = name;
    a.mail_address = id + "@mail.example.jp";
    a.smtp_name = variant % 2 ? "" : "smtp.example.jp";
    a.smtp_port = 25;
    a.pop3_name = variant % 2 ? "" : "pop3.example.jp";
    a.pop3_port = 110;
    a.signature = "-- \r\n" + name + "\r\nExample Trading Co., Ltd.\r\nTel 03-1234-5678\r\n";
    a.quotation = variant % 3 ? "> " : "| ";
    a.apop_flag = variant % 2;
    if (variant % 3 != 0) {
        img::SetDesc& b = d.set[1];
        b.id = id + ".home";
        b.password = "second" + std::to_string(variant);
        b.name = name;
        b.mail_address = id + "@home.example.net";
        b.smtp_name = "smtp.example.net";
        b.pop3_name = "pop.example.net";
        b.signature = name + "\r\n";
        b.quotation = ">";
    }
    if (variant % 5 == 4) {
        img::SetDesc& c = d.set[2];
        c.id = "list-" + id;
        c.password = "third";
        c.mail_address = "list-" + id + "@example.org";
        c.apop_flag = 1;
    }
    d.options[0] = variant % 2;        // delete_flag
    d.options[1] = 10 + variant % 21;  // row_count
    d.options[2] = 60 + variant % 141; // column_count
    d.options[11] = 1 + variant % 10;  // upload_no
    d.options[14] = (variant / 2) % 2; // delete_link
    d.options[29] = 0;
    return d;
}

img::HeaderDesc sample_settings() {
    img::HeaderDesc d;
    d.http_port = 8080;
    d.browser_registration = 0;
    d.browser_auth = 1;
    d.multiple_addresses = 1;
    d.per_user_servers = 1;
    for (int i = 0; i < img::kOptionCount; i++) d.options[i] = static_cast<uint8_t>(3 * i + 5);
    d.options[img::fixed_rows] = 24;
    d.options[img::fixed_columns] = 132;
    d.options[img::fixed_uploads] = 7;
    d.smtp_server = "smtp.corp.example.jp";
    d.smtp_port = 587;
    d.pop3_server = "pop3.corp.example.jp";
    d.pop3_port = 1110;
    d.top_page = "welcome.html";
    d.admin_password = "Adm1n!pass";
    for (int i = 0; i < 30; i++) d.colours[i] = 0x010203u * (i + 1) + (i << 24);
    d.background_image = "C:\\tarnbox\\html\\bg.gif";
    d.fixed_quotation = ">> ";
    d.log_size_kb = 30000;
    d.log_folder = "/var/lib/tarnbox/logs";
    return d;
}

std::unique_ptr<UserRecord> record_of(const img::SlotDesc& d) {
    auto made = std::make_unique<UserRecord>();
    UserRecord& r = *made;
    auto put = [](char* dst, size_t cap, const std::string& s) {
        EXPECT_LT(s.size(), cap) << s;
        size_t n = std::min(s.size(), cap - 1);
        memcpy(dst, s.data(), n);
        dst[n] = 0;
    };
    for (int s = 0; s < 3; s++) {
        const img::SetDesc& in = d.set[s];
        SettingsSet& out = r.set[s];
        put(out.id, sizeof out.id, in.id);
        put(out.password, sizeof out.password, in.password);
        put(out.name, sizeof out.name, in.name);
        put(out.mail_address, sizeof out.mail_address, in.mail_address);
        put(out.smtp_name, sizeof out.smtp_name, in.smtp_name);
        out.smtp_port = in.smtp_port;
        put(out.pop3_name, sizeof out.pop3_name, in.pop3_name);
        out.pop3_port = in.pop3_port;
        put(out.signature, sizeof out.signature, in.signature);
        put(out.quotation, sizeof out.quotation, in.quotation);
        put(out.reserved_a, sizeof out.reserved_a, in.reserved_a);
        put(out.reserved_b, sizeof out.reserved_b, in.reserved_b);
        out.apop_flag = in.apop_flag;
        out.reserved_c = in.reserved_c;
        out.reserved_d = in.reserved_d;
    }
    if (d.book != img::Book::none) r.address_book = d.book_text;
    std::copy(d.options.begin(), d.options.end(), r.options);
    return made;
}

std::string record_diff(const UserRecord& r, const img::SlotDesc& d) {
    std::ostringstream out;
    auto text = [&](int s, const char* field, const char* got, const std::string& want) {
        if (got != want)
            out << "set " << s << " " << field << ": '" << got << "' != '" << want << "'\n";
    };
    auto number = [&](int s, const char* field, int got, int want) {
        if (got != want)
            out << "set " << s << " " << field << ": " << got << " != " << want << "\n";
    };
    for (int s = 0; s < 3; s++) {
        const SettingsSet& got = r.set[s];
        const img::SetDesc& want = d.set[s];
        text(s, "id", got.id, want.id);
        text(s, "password", got.password, want.password);
        text(s, "name", got.name, want.name);
        text(s, "mail_address", got.mail_address, want.mail_address);
        text(s, "smtp_name", got.smtp_name, want.smtp_name);
        number(s, "smtp_port", got.smtp_port, want.smtp_port);
        text(s, "pop3_name", got.pop3_name, want.pop3_name);
        number(s, "pop3_port", got.pop3_port, want.pop3_port);
        text(s, "signature", got.signature, want.signature);
        text(s, "quotation", got.quotation, want.quotation);
        text(s, "reserved_a", got.reserved_a, want.reserved_a);
        text(s, "reserved_b", got.reserved_b, want.reserved_b);
        number(s, "apop_flag", got.apop_flag, want.apop_flag);
        number(s, "reserved_c", got.reserved_c, want.reserved_c);
        number(s, "reserved_d", got.reserved_d, want.reserved_d);
    }
    const std::string book = d.book == img::Book::none ? "" : d.book_text;
    if (r.address_book != book)
        out << "book: " << r.address_book.size() << " chars != " << book.size() << " chars\n";
    for (int i = 0; i < kOptionBytes; i++)
        if (r.options[i] != d.options[i])
            out << "option " << i << ": " << int(r.options[i]) << " != " << int(d.options[i])
                << "\n";
    return out.str();
}

BasicSettings settings_of(const img::HeaderDesc& d, const std::string& user_folder) {
    BasicSettings s;
    set_default_settings(s, user_folder.c_str());
    auto put = [](char* dst, size_t cap, const std::string& v) {
        size_t n = std::min(v.size(), cap - 1);
        memcpy(dst, v.data(), n);
        dst[n] = 0;
    };
    s.http_port = d.http_port;
    s.browser_registration = d.browser_registration;
    s.browser_auth = d.browser_auth;
    s.multiple_addresses = d.multiple_addresses;
    s.per_user_servers = d.per_user_servers;
    for (int i = 0; i < kOptionWordCount; i++) s.*kOptionWords[i] = d.options[i];
    put(s.smtp_server, sizeof s.smtp_server, d.smtp_server);
    s.smtp_port = d.smtp_port;
    put(s.pop3_server, sizeof s.pop3_server, d.pop3_server);
    s.pop3_port = d.pop3_port;
    put(s.top_page, sizeof s.top_page, d.top_page);
    put(s.admin_password, sizeof s.admin_password, d.admin_password);
    for (int i = 0; i < kPageColourCount; i++) s.page_colours[i] = d.colours[i];
    put(s.background_image, sizeof s.background_image, d.background_image);
    put(s.fixed_quotation, sizeof s.fixed_quotation, d.fixed_quotation);
    s.log_size_kb = d.log_size_kb;
    put(s.log_folder, sizeof s.log_folder, d.log_folder);
    return s;
}

std::string settings_diff(const BasicSettings& a, const BasicSettings& b) {
    std::ostringstream out;
    auto number = [&](const char* f, long x, long y) {
        if (x != y) out << f << ": " << x << " != " << y << "\n";
    };
    auto text = [&](const char* f, const char* x, const char* y) {
        if (strcmp(x, y) != 0) out << f << ": '" << x << "' != '" << y << "'\n";
    };
    number("http_port", a.http_port, b.http_port);
    number("browser_registration", a.browser_registration, b.browser_registration);
    number("browser_auth", a.browser_auth, b.browser_auth);
    number("multiple_addresses", a.multiple_addresses, b.multiple_addresses);
    number("per_user_servers", a.per_user_servers, b.per_user_servers);
    for (int i = 0; i < kOptionWordCount; i++)
        if (a.*kOptionWords[i] != b.*kOptionWords[i])
            out << "option word " << i << ": " << a.*kOptionWords[i] << " != " << b.*kOptionWords[i]
                << "\n";
    text("smtp_server", a.smtp_server, b.smtp_server);
    number("smtp_port", a.smtp_port, b.smtp_port);
    text("pop3_server", a.pop3_server, b.pop3_server);
    number("pop3_port", a.pop3_port, b.pop3_port);
    text("top_page", a.top_page, b.top_page);
    text("admin_password", a.admin_password, b.admin_password);
    for (int i = 0; i < kPageColourCount; i++)
        if (a.page_colours[i] != b.page_colours[i])
            out << "colour " << i << ": " << std::hex << a.page_colours[i]
                << " != " << b.page_colours[i] << std::dec << "\n";
    text("background_image", a.background_image, b.background_image);
    text("fixed_quotation", a.fixed_quotation, b.fixed_quotation);
    number("log_size_kb", a.log_size_kb, b.log_size_kb);
    text("log_folder", a.log_folder, b.log_folder);
    return out.str();
}

std::string meaningful_diff(const uint8_t* actual, const img::Image& img) {
    std::ostringstream out;
    int shown = 0;
    for (size_t i = 0; i < img.bytes.size() && shown < 8; i++)
        if (img.meaningful[i] && actual[i] != img.bytes[i]) {
            out << "byte " << i << ": " << int(actual[i]) << " != " << int(img.bytes[i]) << "\n";
            shown++;
        }
    return out.str();
}

void DataStoreTest::SetUp() {
    char tmpl[] = "/tmp/tarnbox-store-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    home = tmpl;
    ds.data_path = home + "/tarnbox.dat";
    ds.user_folder = home + "/user";
    fs::create_directory(ds.user_folder);
    ds.report = [this](std::string_view m) { messages.emplace_back(m); };
}

void DataStoreTest::TearDown() {
    clear_users(ds.users);
    std::error_code ec;
    fs::permissions(home, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(home, ec);
}

void DataStoreTest::put_file(const std::string& path, const img::Bytes& bytes) {
    // A fresh file rather than a truncated one: ext4 flushes truncated files
    // on close, which makes the thousands of loads below crawl.
    std::remove(path.c_str());
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(f.good()) << path;
}

img::Bytes DataStoreTest::get_file(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return img::Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

bool DataStoreTest::exists(const std::string& path) {
    return fs::exists(path);
}

int DataStoreTest::load(const img::Bytes& file) {
    put_file(ds.data_path, file);
    return load_data_file(ds);
}

std::vector<UserRecord*> DataStoreTest::users() {
    std::vector<UserRecord*> out;
    for (UserRecord* r = ds.users.head.link; r; r = r->link) out.push_back(r);
    return out;
}

} // namespace store_test
