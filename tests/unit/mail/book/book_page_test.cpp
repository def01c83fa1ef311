#include "mail/book/address_book.h"
#include "mail/book/book_entries.h"
#include "mail/mail_fixture.h"
#include "mail/mail_golden.h"
#include "server/form/form_reader.h"
#include "server/request/request_reader.h"
#include "server/route/page_fixture.h"

namespace {

const char kChromium[] = "Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/537.36 (KHTML, like Gecko)";
const char kLynx[] = "Lynx/2.8.9rel.1";

class BookPage : public PageTest {
protected:
    void SetUp() override {
        PageTest::SetUp();
        ASSERT_EQ(create_data_file(data_store()), 1);
        taro = LoggedIn("taro");
        taro->options[row_count] = 12;
        LoadSharedBook();
    }
    std::string Get(const std::string& query, const char* agent) {
        return Answer("GET /mail/book/index.html" + query + kQ + " HTTP/1.0\r\n" + kCookieLine +
                          "User-Agent: " + agent + "\r\n\r\n",
                      0, 1);
    }
    std::string Post(const std::string& body, const char* agent) {
        return Answer(::Post("/mail/book/index.html" + kQ,
                             kCookieLine + "User-Agent: " + agent + "\r\n", kPostedToken + body),
                      0, 1);
    }
    // The book as the data file holds it.
    std::string Stored() {
        DataStore ds;
        ds.data_path = data_store().data_path;
        ds.user_folder = data_store().user_folder;
        EXPECT_EQ(load_data_file(ds), kLoadOk);
        UserRecord* r = find_user(ds.users, "taro");
        std::string book = r ? r->address_book : "(no user)";
        clear_users(ds.users);
        return book;
    }
};

TEST_F(BookPage, Requests) {
    for (const auto& record : CASE_BLOCKS("requests.cases")) {
        SCOPED_TRACE(record.at(0));
        taro->address_book.clear();
        ASSERT_EQ(write_user_slot(data_store(), *taro), 1);
        std::string page, sections;
        mail_golden::Play(
            record, {{"book", [&](S a) { taro->address_book = a; }},
                     {"save", [&](S) { ASSERT_EQ(write_user_slot(data_store(), *taro), 1); }},
                     {"no-data-file", [&](S) { std::filesystem::remove(data_store().data_path); }},
                     {"get-plain", [&](S a) { page = Get(a, kLynx); }},
                     {"get-script", [&](S a) { page = Get(a, kChromium); }},
                     {"post-plain", [&](S a) { page = Post(a, kLynx); }},
                     {"post-script", [&](S a) { page = Post(a, kChromium); }},
                     {"golden", [&](S a) { EXPECT_GOLDEN(a, page); }},
                     {"section", [&](S a) { sections += mail_golden::Section(a, page); }},
                     {"sections", [&](S a) { EXPECT_GOLDEN(a, sections); }},
                     {"page", [&](S a) { EXPECT_NE(page.find(a), std::string::npos) << page; }},
                     {"no-page", [&](S a) { EXPECT_EQ(page.find(a), std::string::npos) << page; }},
                     {"book-is", [&](S a) { EXPECT_EQ(taro->address_book, a); }},
                     {"stored", [&](S a) { EXPECT_EQ(Stored(), a); }}});
    }
}

// The entries of text, one "name|address" a line.
std::string Read(std::string_view text) {
    std::string out;
    for_each_book_entry(text, [&](const char* entry, size_t n) {
        BookEntryParts p = book_entry_parts(entry, n);
        out += std::string(p.name, p.nameLength) + "|" + std::string(p.address, p.addressLength);
        out += "\n";
    });
    return out;
}

TEST(BookEntries, NamesAndAddressesAsTheReadersTakeThemAndTheNameCheck) {
    for (const auto& t : CASE_BLOCKS("entries.cases")) EXPECT_EQ(Read(t.at(0)), t.at(1)) << t[0];
    for (const auto& t : SERVER_CASES("book_names.cases"))
        EXPECT_EQ(IsValidBookName(t.at(1).c_str()), t.at(0) == "1") << t[1];
}

class SharedBook : public PageTest {};

TEST_F(SharedBook, LoadsCommaAndLineSeparatedEntries) {
    WriteFile(home + "/user/common.adb", "A<a@b.c>,\r\nB <b@b.c>");
    LoadSharedBook();
    const std::string* text = shared_address_book();
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(Read(*text), "A|a@b.c\nB|b@b.c\n");

    std::filesystem::remove(home + "/user/common.adb");
    LoadSharedBook();
    EXPECT_EQ(shared_address_book(), nullptr);
}

} // namespace
