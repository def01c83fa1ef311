#include "store/store_fixture.h"
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string_view>
#include <type_traits>

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

namespace {

// Fills a stored field from its description; C strings are cut to fit.
struct Assign {
    template <class T, class V> void operator()(const char*, T& dst, const V& src) const {
        if constexpr (std::is_array_v<T>) {
            size_t n = std::min(std::string_view(src).size(), sizeof dst - 1);
            memcpy(dst, std::string_view(src).data(), n);
            dst[n] = 0;
        } else {
            dst = src;
        }
    }
};

// Notes each field whose value is not the one wanted.
struct Differ {
    std::ostringstream& out;
    std::string where;
    template <class T, class V> void operator()(const char* field, const T& got, const V& want) {
        if constexpr (std::is_array_v<T>) {
            if (std::string_view(got) != std::string_view(want))
                out << where << field << ": '" << got << "' != '" << want << "'\n";
        } else if (got != want) {
            out << where << field << ": " << got << " != " << want << "\n";
        }
    }
};

// The fields of a stored set alongside those of its description.
template <class Set, class F> void each_field(Set& got, const img::SetDesc& want, F&& f) {
    f("id", got.id, want.id);
    f("password", got.password, want.password);
    f("name", got.name, want.name);
    f("mail_address", got.mail_address, want.mail_address);
    f("smtp_name", got.smtp_name, want.smtp_name);
    f("smtp_port", got.smtp_port, want.smtp_port);
    f("pop3_name", got.pop3_name, want.pop3_name);
    f("pop3_port", got.pop3_port, want.pop3_port);
    f("signature", got.signature, want.signature);
    f("quotation", got.quotation, want.quotation);
    f("reserved_a", got.reserved_a, want.reserved_a);
    f("reserved_b", got.reserved_b, want.reserved_b);
    f("apop_flag", got.apop_flag, want.apop_flag);
    f("mail_security", got.mail_security, want.mail_security);
    f("smtp_auth", got.smtp_auth, want.smtp_auth);
}

// The settings fields a header description names alike; want is such a
// description or other settings. Options and colours go by index apart.
template <class Settings, class W, class F> void each_setting(Settings& got, const W& want, F&& f) {
    f("http_port", got.http_port, want.http_port);
    f("browser_registration", got.browser_registration, want.browser_registration);
    f("browser_auth", got.browser_auth, want.browser_auth);
    f("multiple_addresses", got.multiple_addresses, want.multiple_addresses);
    f("per_user_servers", got.per_user_servers, want.per_user_servers);
    f("smtp_server", got.smtp_server, want.smtp_server);
    f("smtp_port", got.smtp_port, want.smtp_port);
    f("pop3_server", got.pop3_server, want.pop3_server);
    f("pop3_port", got.pop3_port, want.pop3_port);
    f("top_page", got.top_page, want.top_page);
    f("admin_password", got.admin_password, want.admin_password);
    f("background_image", got.background_image, want.background_image);
    f("fixed_quotation", got.fixed_quotation, want.fixed_quotation);
    f("log_size_kb", got.log_size_kb, want.log_size_kb);
    f("log_folder", got.log_folder, want.log_folder);
}

} // namespace

std::string book_of_length(size_t n) {
    std::string out;
    while (out.size() < n)
        out += "\x8e\x52\x93\x63 <yamada@example.jp>,Bob Smith <bob@example.com>,";
    out.resize(n);
    return out;
}

std::unique_ptr<UserRecord> record_of(const img::SlotDesc& d) {
    auto r = std::make_unique<UserRecord>();
    for (int s = 0; s < 3; s++) each_field(r->set[s], d.set[s], Assign{});
    if (d.book != img::Book::none) r->address_book = d.book_text;
    std::copy(d.options.begin(), d.options.end(), r->options);
    return r;
}

std::string record_diff(const UserRecord& r, const img::SlotDesc& d) {
    std::ostringstream out;
    for (int s = 0; s < 3; s++)
        each_field(r.set[s], d.set[s], Differ{out, "set " + std::to_string(s) + " "});
    const std::string book = d.book == img::Book::none ? "" : d.book_text;
    if (r.address_book != book)
        out << "book: " << r.address_book.size() << " chars != " << book.size() << " chars\n";
    Differ option{out, "option "};
    for (int i = 0; i < kOptionBytes; i++)
        option(std::to_string(i).c_str(), int{r.options[i]}, int{d.options[i]});
    return out.str();
}

BasicSettings settings_of(const img::HeaderDesc& d, const std::string& user_folder) {
    BasicSettings s;
    set_default_settings(s, user_folder.c_str());
    each_setting(s, d, Assign{});
    for (int i = 0; i < kOptionWordCount; i++) s.*kOptionWords[i] = d.options[i];
    for (int i = 0; i < kPageColourCount; i++) s.page_colours[i] = d.colours[i];
    return s;
}

std::string settings_diff(const BasicSettings& a, const BasicSettings& b) {
    std::ostringstream out;
    each_setting(a, b, Differ{out, ""});
    Differ option{out, "option word "}, colour{out, "colour "};
    for (int i = 0; i < kOptionWordCount; i++)
        option(std::to_string(i).c_str(), a.*kOptionWords[i], b.*kOptionWords[i]);
    for (int i = 0; i < kPageColourCount; i++)
        colour(std::to_string(i).c_str(), a.page_colours[i], b.page_colours[i]);
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

int DataStoreTest::load(const img::Bytes& file) {
    put_file(ds.data_path, file);
    return load_data_file(ds);
}

img::Bytes DataStoreTest::file_of(const std::vector<img::SlotDesc>& descs, const img::Bytes& prefix,
                                  const img::Bytes& tail) {
    std::vector<img::Image> slots;
    for (const img::SlotDesc& d : descs)
        slots.push_back(img::build_slot(d, img::file_key_of(prefix)));
    return img::data_file(img::build_header(sample_settings(), prefix), slots, tail);
}

std::vector<UserRecord*> DataStoreTest::users() {
    std::vector<UserRecord*> out;
    for (UserRecord* r = ds.users.head.link; r; r = r->link) out.push_back(r);
    return out;
}

void DataStoreTest::expect_users(const std::vector<img::SlotDesc>& want) {
    auto got = users();
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < got.size(); i++) {
        EXPECT_EQ(got[i]->position, static_cast<int>(i));
        EXPECT_EQ(record_diff(*got[i], want[i]), "") << "user " << i;
    }
}

} // namespace store_test
