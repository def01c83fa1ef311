#include "mail/book/address_book.h"
#include "mail/mail_golden.h"
#include "server/form/form_reader.h"
#include "server/request/request_reader.h"
#include "server/route/page_fixture.h"

namespace {

const std::string kQ = "?user=taro?check=5?lang=eng";
const char kChromium[] = "Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/537.36 (KHTML, like Gecko)";
const char kLynx[] = "Lynx/2.8.9rel.1";

class BookPage : public PageTest {
protected:
    void SetUp() override {
        PageTest::SetUp();
        ASSERT_EQ(create_data_file(data_store()), 1);
        taro = LoggedIn("taro");
        taro->options[row_count] = 12;
        install_address_book();
    }
    void TearDown() override {
        BookField = nullptr;
        PageTest::TearDown();
    }
    // The answer to a whole request, dates masked.
    std::string Ask(const std::string& request) {
        out.clear();
        ConnectionPtr c = Capture(0);
        EXPECT_EQ(FeedBytes(*c, request.data(), static_cast<int>(request.size())), 1);
        Dispatcher(*c);
        EXPECT_EQ(c->state, PageState::Done);
        return MaskDates(out);
    }
    std::string Get(const std::string& query, const char* agent) {
        return Ask("GET /mail/book/index.html" + query + kQ + " HTTP/1.0\r\n" + kCookieLine +
                   "User-Agent: " + agent + "\r\n\r\n");
    }
    std::string Post(const std::string& body, const char* agent) {
        const std::string posted = kPostedToken + body;
        return Ask("POST /mail/book/index.html" + kQ + " HTTP/1.0\r\n" + kCookieLine +
                   "User-Agent: " + agent + "\r\nContent-length: " + std::to_string(posted.size()) +
                   "\r\n\r\n" + posted);
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
    UserRecord* taro = nullptr;
};

// Without the script every entry is a row of inputs the post reads back.
TEST_F(BookPage, PlainVariantRows) {
    taro->address_book = "Taro <t@b.c>,<h@b.c>";
    const std::string page = Get("?back=a0001", kLynx);
    EXPECT_GOLDEN(page, "plain_rows.ref");
    EXPECT_EQ(page.find("<script"), std::string::npos);
}

TEST_F(BookPage, HostileEntriesStayInsideTheirMarkup) {
    // An ESC would switch the output filter into JIS; a lone lead byte would
    // swallow the closing quote.
    taro->address_book = "\"x&\x1b$B\x81 <e@b.c>,A<b>c";
    std::string plain = Get("", kLynx);
    std::string script = Get("", kChromium);
    EXPECT_GOLDEN(mail_golden::Section("plain", plain) + mail_golden::Section("script", script),
                  "hostile_entries.ref");
}

TEST_F(BookPage, AddedSenderIsSavedAtOnceAndOnlyOnce) {
    std::string page = Get("?back=a0001?add=Taro%20%3Ct@b.c%3E", kChromium);
    EXPECT_GOLDEN(page, "added_sender.ref");
    EXPECT_EQ(taro->address_book, ",Taro  <t@b.c>");
    EXPECT_EQ(Stored(), ",Taro  <t@b.c>");
    // Known already (a substring of the book): nothing added, the notice stays.
    page = Get("?back=a0001?add=T.%20Yamada%20%3Ct@b.c%3E", kChromium);
    EXPECT_EQ(Stored(), ",Taro  <t@b.c>");
    EXPECT_NE(page.find("T. Yamada &lt;t@b.c&gt; has been added"), std::string::npos);

    Get("?back=a0002?add=h@b.c%20(Hanako)", kChromium);
    Get("?back=a0003?add=%22Ken%22%20%3Ck@b.c%3E", kLynx);
    Get("?back=a0004?add=%3Cn@b.c%3E", kLynx);
    // A name that would split the entry is left out.
    Get("?back=a0005?add=s@b.c%20(Sato,%20Jiro)", kLynx);
    EXPECT_EQ(Stored(), ",Taro  <t@b.c>,Hanako <h@b.c>,Ken <k@b.c>,<n@b.c>,<s@b.c>");
}

TEST_F(BookPage, PlainPostDeletesByEmptiedAddressAndByCheckbox) {
    taro->address_book = "A <a@b.c>,B <b@b.c>,C <c@b.c>";
    Post("book_name1=A&book_mail_address1=a@b.c&book_name2=B&book_mail_address2="
         "&book_name3=C&book_delete3=on&book_mail_address3=c@b.c"
         "&book_name4=Only+a+name&book_mail_address4=",
         kLynx);
    EXPECT_EQ(Stored(), "A <a@b.c>");

    Post("book_name1=A&book_mail_address1=a@b.c&book_mail_address2=d@b.c"
         "&book_name3=E+%82%A0&book_mail_address3=e@b.c",
         kLynx);
    EXPECT_EQ(Stored(), "A <a@b.c>,<d@b.c>,E \x82\xA0 <e@b.c>");

    Post("book_name1=&book_delete1=on&book_mail_address1=a@b.c", kLynx);
    EXPECT_EQ(Stored(), "");
}

TEST_F(BookPage, RejectedEntryShowsTheLastErrorAndSavesNothing) {
    taro->address_book = "A <a@b.c>";
    ASSERT_EQ(write_user_slot(data_store(), *taro), 1);
    std::string page = Post("book_name1=A,B&book_mail_address1=a@b.c", kLynx);
    std::string golden = mail_golden::Section("bad name", page);
    EXPECT_EQ(Stored(), "A <a@b.c>");

    page = Post("book_name1=A,B&book_mail_address1=a@b.c&book_name2=T&book_mail_address2=t@host",
                kLynx);
    EXPECT_GOLDEN(golden + mail_golden::Section("bad name, then bad address", page),
                  "rejected.ref");
    EXPECT_EQ(Stored(), "A <a@b.c>");
}

TEST_F(BookPage, ScriptPostStoresTheMessageText) {
    // A long book comes in 4095-byte lines, each given a CRLF by the form reader.
    std::string book;
    for (int i = 0; book.size() < 6000; i++)
        book += (i ? "," : "") + std::string("Name") + std::to_string(i) + " <n" +
                std::to_string(i) + "@b.c>";
    std::string encoded;
    for (char ch : book) encoded += ch == '<' ? "%3C" : ch == '>' ? "%3E" : std::string(1, ch);
    // The book_ inputs of the script page are not entries.
    Post("book_name=X&book_mail_address=x@b.c&message=" + encoded, kChromium);
    EXPECT_EQ(taro->address_book, book);
    EXPECT_EQ(Stored(), book);
}

TEST_F(BookPage, FailedSaveStillAnswersAndKeepsTheOldBook) {
    taro->address_book = "A <a@b.c>";
    std::filesystem::remove(data_store().data_path);
    std::string page = Post("message=B+%3Cb@b.c%3E", kChromium);
    EXPECT_EQ(taro->address_book, "A <a@b.c>");
    EXPECT_NE(page.find("<option>A &lt;a@b.c&gt;</select>"), std::string::npos);
    EXPECT_NE(page.find("</body></html>"), std::string::npos);
}

} // namespace
