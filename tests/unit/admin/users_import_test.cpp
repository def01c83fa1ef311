#include "admin/users_import.h"
#include "mail/pop3/pop3_state.h"
#include "store/mail_security.h"

#include <cstring>
#include <tuple>
#include <vector>

#include "server/server_cases.h"
#include "store/store_fixture.h"

namespace {

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
    const MailSecurity a = mail_security_of(ds.settings, find_user(ds.users, "a")->set[0]);
    EXPECT_EQ(std::tuple(a.pop3, a.pop3Port, a.smtp, a.smtpPort, a.smtpAuth, a.verify),
              std::tuple(Pop3Security::Tls, 995, SmtpSecurity::StartTls, 587, true, false));
    EXPECT_EQ(find_user(ds.users, "b"), nullptr);
    EXPECT_EQ(mail_security_of(ds.settings, find_user(ds.users, "c")->set[0]).pop3,
              Pop3Security::None);
}

} // namespace
