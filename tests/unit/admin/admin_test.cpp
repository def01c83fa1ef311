#include "admin/csv_file.h"
#include "admin/mail_security_options.h"
#include "admin/shared_book_file.h"
#include "admin/users_import.h"
#include "mail/mail_golden.h"
#include "mail/pop3/pop3_state.h"
#include "store/basic_settings.h"
#include "store/mail_security.h"
#include "store/user_record.h"

#include <cstring>
#include <sstream>
#include <vector>

#include "server/server_cases.h"
#include "store/store_fixture.h"

namespace {

using Lines = std::vector<std::string>;

TEST(CsvFile, LinesTheirEncodingAndColumns) {
    for (const auto& c : SERVER_CASES("csv_lines.ref")) {
        CsvText t;
        ASSERT_EQ(decode_csv_text(c.at(0), t), std::stoul(c.at(2))) << c.at(0);
        if (c.at(1) == "-") continue;
        EXPECT_EQ(t.utf8, c.at(1) == "1") << c.at(0);
        EXPECT_EQ(t.lines, Lines(c.begin() + 3, c.end())) << c.at(0);
    }
    // Quoted commas stay in one column, without the quotes.
    for (const auto& c : SERVER_CASES("csv_columns.ref"))
        EXPECT_EQ(split_csv_columns(c.at(0)), Lines(c.begin() + 1, c.end())) << c.at(0);
}

TEST(SharedBookFile, SortLooksAtTheFirst39BytesOnly) {
    std::string common(38, 'x');
    // Both names share 38 bytes; the two-byte character after them would
    // cross the limit, so it is left out and the names tie.
    auto rows = parse_shared_book(common + "\x88\xA2<b@b.c>," + common + "\x88\x9F<a@b.c>," +
                                  common.substr(0, 37) + "a<c@b.c>");
    sort_shared_book(rows, false);
    Lines order;
    for (const auto& row : rows) order.push_back(row.address);
    EXPECT_EQ(order, (Lines{"<c@b.c>", "<b@b.c>", "<a@b.c>"}));
}

// The options of a case field, apart by blanks.
SecurityInput parse(const std::string& field) {
    const Lines args = mail_golden::Split(field, ' ');
    SecurityInput in;
    for (size_t i = 0; i < args.size(); i++) EXPECT_EQ(take_security_option(args, i, in), 1);
    return in;
}

// What a set reads back as, in the words of the case file.
std::string Described(const MailSecurity& m) {
    static const char* const kPop3[] = {"none", "stls", "tls"};
    static const char* const kSmtp[] = {"none", "starttls", "tls"};
    std::ostringstream s;
    s << kPop3[static_cast<int>(m.pop3)] << " " << m.pop3Port << " "
      << kSmtp[static_cast<int>(m.smtp)] << " " << m.smtpPort << " " << m.smtpAuth << " "
      << m.verify;
    return s.str();
}

TEST(MailSecurityOptions, ChangesLandInTheSetAndReadBackAsMeant) {
    BasicSettings bs{};
    bs.per_user_servers = 1;
    bs.pop3_port = 1110;
    bs.smtp_port = 2525;
    for (const auto& c : SERVER_CASES("security_changes.ref")) {
        SCOPED_TRACE(c.at(0));
        SettingsSet set{};
        start_security_from_defaults(bs, set);
        apply_security(parse(c.at(1)), bs, set);
        apply_security(parse(c.at(2)), bs, set);
        EXPECT_EQ(Described(mail_security_of(bs, set)), c.at(3));
    }
}

TEST(MailSecurityOptions, WithoutServersPerUserTheAdministratorsChoiceHolds) {
    BasicSettings bs{};
    bs.pop3_port = 995;
    bs.smtp_port = 587;
    bs.default_mail_security = kSecurityPop3Tls | kSecuritySmtpStartTls;
    bs.default_smtp_auth = kSmtpAuthPop3Login;
    SettingsSet set{};
    set.mail_security =
        kSecurityNoVerify | kSecurityOwnPorts; // left from a time with per-user servers
    set.pop3_port = 110;
    EXPECT_EQ(Described(mail_security_of(bs, set)), "tls 995 starttls 587 1 1");

    // A new set starts from the same choice, so ticking per-user servers later
    // does not quietly turn it to plain text.
    SettingsSet fresh{};
    start_security_from_defaults(bs, fresh);
    bs.per_user_servers = 1;
    EXPECT_EQ(mail_security_of(bs, fresh).pop3, Pop3Security::Tls);
    EXPECT_TRUE(mail_security_of(bs, fresh).smtpAuth);
}

TEST(MailSecurityOptions, RefusedValuesSayWhy) {
    SecurityInput in;
    for (const auto& c : SERVER_CASES("refused_security_values.ref"))
        EXPECT_NE(take_security_value(c.at(0), c.at(1), in), "") << c.at(0);
    EXPECT_FALSE(in.any());
}

class UsersImport : public ::testing::Test {
protected:
    void SetUp() override {
        strcpy(ds.settings.smtp_server, "smtp.example.jp");
        strcpy(ds.settings.pop3_server, "pop.example.jp");
    }
    void TearDown() override { clear_users(ds.users); }

    ImportTally run(const std::vector<std::string>& lines) {
        CsvText text;
        text.lines = lines;
        text.broken.assign(lines.size(), false);
        return run(text);
    }
    ImportTally run(const CsvText& text) {
        return import_user_lines(ds, text, [this](const std::string& m) { said.push_back(m); });
    }

    DataStore ds;
    std::vector<std::string> said;
};

// The lines of imported_lines.ref and the ids they register: the third name
// is cut before the two-byte character that crosses its 39 bytes, the third
// id at 39.
TEST_F(UsersImport, FillsRecordsFromColumnsAndDefaults) {
    std::vector<std::string> lines;
    for (const auto& c : SERVER_CASES("imported_lines.ref")) lines.push_back(c.at(0));
    ImportTally t = run(lines);
    EXPECT_EQ(t.registered, 3);
    EXPECT_TRUE(said.empty());
    std::string records;
    for (const auto& c : SERVER_CASES("imported_lines.ref"))
        records +=
            "=== " + c.at(1) + "\n" + store_test::dump(*find_user(ds.users, c.at(1).c_str()));
    EXPECT_GOLDEN("imported_users.ref", records);
}

TEST_F(UsersImport, RefusedLinesAreReportedAndTheOthersRegistered) {
    auto* taro = new UserRecord();
    strcpy(taro->set[0].id, "taro");
    append_user(ds.users, taro);
    std::vector<std::string> lines, want;
    for (const auto& c : SERVER_CASES("refused_lines.ref")) {
        lines.push_back(c.at(0));
        if (c.size() > 1) want.push_back(c.at(1));
    }
    ImportTally t = run(lines);
    EXPECT_EQ(t.registered, 2);
    EXPECT_EQ(t.refused, 7);
    EXPECT_FALSE(t.stopped);
    EXPECT_EQ(said, want);
    EXPECT_STREQ(find_user(ds.users, "g")->set[0].name, "G");
    EXPECT_EQ(find_user(ds.users, "h"), nullptr);
}

// A value the file holds with a line break or a NUL is not what the line
// shows; it must not become a user name or password that reaches a server.
// The file's lines: a CR LF line end (fine), a CR inside, a NUL, a quoted
// value over two lines (its second half a line of its own), a CR at the
// end; what the import says of them is in line_breaks.ref.
TEST_F(UsersImport, LinesWithLineBreaksOrNulsInValuesAreRefused) {
    CsvText text;
    ASSERT_EQ(decode_csv_text(GOLDEN("line_breaks.csv"), text), 0u);
    ImportTally t = run(text);
    EXPECT_EQ(t.registered, 2);
    EXPECT_EQ(t.refused, 4);
    for (const char* id : {"b", "c", "d"}) EXPECT_EQ(find_user(ds.users, id), nullptr) << id;
    EXPECT_STREQ(find_user(ds.users, "e")->set[0].password, "pw");
    std::string messages;
    for (const std::string& m : said) messages += m + "\n---\n";
    EXPECT_GOLDEN("line_breaks.ref", messages);
}

// The columns after APOP: POP3 security, SMTP security, SMTP login and
// certificate checks; an unknown word refuses the line.
TEST_F(UsersImport, MailSecurityColumns) {
    ds.settings.per_user_servers = 1;
    ImportTally t =
        run({"A,a@b.c,a,pw,,,,,,TLS,starttls,pop3,,,off", "B,b@b.c,b,pw,,,,,,ssl", "C,c@b.c,c,pw"});
    EXPECT_EQ(t.registered, 2);
    EXPECT_EQ(t.refused, 1);
    EXPECT_EQ(Described(mail_security_of(ds.settings, find_user(ds.users, "a")->set[0])),
              "tls 995 starttls 587 1 0");
    EXPECT_EQ(find_user(ds.users, "b"), nullptr);
    EXPECT_EQ(mail_security_of(ds.settings, find_user(ds.users, "c")->set[0]).pop3,
              Pop3Security::None);
}

} // namespace
