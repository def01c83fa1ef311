#include "mail/list/list_state.h"
#include "mail/list/received_list.h"
#include "mail/pop3/pop3_login_check.h"
#include "server/form/form_reading.h"
#include "server/server_cases.h"
#include "server_golden.h"
#include "store/mail_security.h"
#include "store/pages/settings_form.h"
#include "store/pages/settings_steps.h"
#include "store/settings_page_fixture.h"
#include "store/store_fixture.h"

namespace {

// What the fake poppassd worker saw and answers.
std::string gInputs;
int gOutcome = 0;

void FakePasswordWorker(Connection& c, int set) {
    gInputs = std::string(c.formSlots[0]) + "|" + c.formSlots[1] + "|" + c.formSlots[2] + "|" +
              std::to_string(set);
    c.workerResult = static_cast<uint16_t>(gOutcome);
    if (gOutcome == 8 && c.user)
        snprintf(c.user->runtime.pop3ErrorText[0], sizeof c.user->runtime.pop3ErrorText[0],
                 "Old password <wrong>");
}

// What the POP3 server would answer the registration's login with.
int gCheckAnswer = 0;
std::string gCheckAsked;

void FakeCheck(Connection& c) {
    gCheckAsked = registration_probe(c).id + std::string(":") + registration_probe(c).password;
    c.workerResult = gCheckAnswer;
    snprintf(c.formSlots[kSlotCheckRefusal], kFieldSize, "-ERR [AUTH] <b>no</b>");
}

} // namespace

// Each post of Taro's Settings 1 starts from a fresh Taro; the golden has
// each page under the fields posted, and the password and signature kept.
class SettingsPostTest : public SettingsPageTest {
protected:
    std::string Post(std::initializer_list<std::string> fields, size_t signature = 0) {
        out.clear();
        clear_users(data_store().users);
        UserRecord* u = Taro();
        ConnectionPtr c = For(u, 0, PageState::SetupSubmit);
        Unchanged(*c);
        for (const std::string& f : fields) Field(*c, f);
        if (signature) {
            c->messageText[0] = '\0';
            c->messageLength = 0;
            AppendMessage(*c, std::string(signature, 's').c_str());
        }
        Produce(*c);
        std::string name;
        for (const std::string& f : fields) name += f + " ";
        return Section(name + "| password " + u->set[0].password + " | signature of " +
                       std::to_string(strlen(u->set[0].signature)));
    }
};

TEST_F(SettingsPostTest, EntryAreaAndSignatureLimits) {
    std::string pages;
    for (const char* f : {"user_column_count=10", "user_column_count=9", "user_column_count=201",
                          "user_row_count=30", "user_row_count=0", "user_row_count=31"})
        pages += Post({f});
    pages += Post({}, 499) + Post({}, 500);
    EXPECT_GOLDEN("pages/entry_limits.ref", pages);
}

TEST_F(SettingsPageTest, AnotherUsersIdReplacesTheListSoFar) {
    AddUser("jiro");
    Settings().user_policy_3 = kPolicy3MayChangeId;
    UserRecord* u = Taro();
    Run(u, 0, PageState::SetupSubmit, true,
        {"user_id=jiro", "user_name=", "user_mail_address=a@b"});
    EXPECT_GOLDEN("pages/id_taken.ref", MaskDates(out));
    EXPECT_STREQ(u->set[0].id, "taro");
}

TEST_F(SettingsPageTest, NameOnlyChangeKeepsThePasswordAndShowsTheResult) {
    UserRecord* u = Taro();
    Run(u, 0, PageState::SetupSubmit, true, {"user_name=Taro Yamada"});
    EXPECT_GOLDEN("pages/name_only_change.ref", MaskDates(out) + store_test::dump(*u));
}

// A fixed password is not for the user to change, whatever is posted.
TEST_F(SettingsPostTest, PasswordRules) {
    std::string pages;
    for (const auto& c : SERVER_CASES("password_posts.ref")) {
        Settings().user_policy_1 =
            kPolicy1MayChangeName | (c.at(3) == "1" ? kPolicy1PasswordFixed : 0);
        pages += Post({"user_pass0=" + c.at(0), "user_pass1=" + c.at(1), "user_pass2=" + c.at(2)});
    }
    EXPECT_GOLDEN("pages/password_rules.ref", pages);
}

TEST_F(SettingsPageTest, AddingSecondSet) {
    Settings().multiple_addresses = 1;
    UserRecord* u = Taro();
    Run(u, 1, PageState::SetupSubmit, false,
        {"user_name=Work", "user_mail_address=t@work.example", "user_id=t.work", "user_pass1=a",
         "user_pass2=a"});
    EXPECT_GOLDEN("pages/second_set_added.ref", MaskDates(out) + store_test::dump(*u));
}

TEST_F(SettingsPageTest, DeletingSettings2MovesSettings3Up) {
    Settings().multiple_addresses = 1;
    UserRecord* u = Taro();
    snprintf(u->set[1].id, sizeof u->set[1].id, "second");
    snprintf(u->set[2].id, sizeof u->set[2].id, "third");
    snprintf(u->set[2].mail_address, sizeof u->set[2].mail_address, "t@third.example");
    u->set[2].apop_flag = 1;
    u->runtime.pop3Status[2] = 7;
    KeptEntry* tail = nullptr;
    ASSERT_NE(append_kept(u, 2, tail, 4, 100), nullptr);
    KeptEntry* thirdList = u->runtime.keptList[2];

    ConnectionPtr c = For(u, 1, PageState::SetupDeleteSubmit);
    c->route = Route::SetupDelete;
    Produce(*c);
    EXPECT_EQ(u->runtime.pop3Status[1], 7);
    EXPECT_EQ(u->runtime.keptList[1], thirdList);
    EXPECT_EQ(u->runtime.keptList[2], nullptr);
    EXPECT_EQ(u->runtime.pop3Status[2], 0);
    EXPECT_GOLDEN("pages/deleted_settings2.ref",
                  out.substr(out.find("\r\n\r\n") + 4) + store_test::dump(*u));
    free_kept_list(u, 1);

    // Settings 1 holds the key: the request only shows its page.
    Run(u, 0, PageState::SetupDeleteSubmit, false);
    EXPECT_GOLDEN("pages/settings1_not_deleted.ref", MaskDates(out) + store_test::dump(*u));
}

TEST_F(SettingsPageTest, RegistrationIsWrittenToTheDataFileOnlyOnceThePop3ServerTookTheLogin) {
    settings_workers().registrationCheck = FakeCheck;
    std::string pages;
    for (LoginCheckOutcome answer : {LoginCheckOutcome::Refused, LoginCheckOutcome::ConnectFailed,
                                     LoginCheckOutcome::Accepted}) {
        if (answer == LoginCheckOutcome::Accepted) {
            EXPECT_EQ(find_user(data_store().users, "hanako"), nullptr);
        }
        gCheckAnswer = static_cast<int>(answer);
        gCheckAsked.clear();
        Run(nullptr, -1, PageState::NewUserSubmit, false,
            {"user_name=Hanako", "user_mail_address=hanako@example.jp", "user_id=hanako",
             "user_pass1=secret", "user_pass2=secret", "user_column_count=72", "user_row_count=20",
             "user_upload_no=3", "user_cc_flag=on"});
        pages += Section("answer " + std::to_string(gCheckAnswer) + ", asked " + gCheckAsked);
    }
    EXPECT_GOLDEN("pages/registration_check.ref", pages);

    DataStore reread;
    reread.data_path = data_store().data_path;
    reread.user_folder = data_store().user_folder;
    ASSERT_EQ(load_data_file(reread), kLoadOk);
    const UserRecord* r = find_user(reread.users, "hanako");
    ASSERT_NE(r, nullptr);
    // 72 columns, 20 rows, 3 uploads, Cc on, no header line, as posted.
    EXPECT_GOLDEN("pages/registered_user.ref", store_test::dump(*r));
    clear_users(reread.users);
}

// The form reader marks a value that held a line break (it reached the
// handler cut there); such a password or user name is refused, never stored
// or handed to poppassd.
TEST_F(SettingsPageTest, ValuesThatHeldALineBreakAreRefused) {
    Settings().poppassd_value = 1;
    settings_workers().password = FakePasswordWorker;
    gInputs.clear();
    UserRecord* u = Taro();
    ConnectionPtr c = For(u, 0, PageState::SetupSubmit);
    Unchanged(*c);
    Field(*c, "user_pass0=pw");
    c->form.valueBroken = 1;
    Field(*c, "user_pass1=new");
    c->form.valueBroken = 0;
    Field(*c, "user_pass2=new");
    Produce(*c);
    std::string pages = Section("new password");
    EXPECT_STREQ(u->set[0].password, "pw");
    EXPECT_EQ(gInputs, "");

    // Registration, on a Japanese page.
    out.clear();
    c = For(nullptr, -1, PageState::NewUserSubmit, 0);
    for (const char* f : {"user_name=Hanako", "user_mail_address=hanako@example.jp",
                          "user_pass1=secret", "user_pass2=secret"})
        Field(*c, f);
    c->form.valueBroken = 1;
    Field(*c, "user_id=hanako");
    Produce(*c);
    EXPECT_GOLDEN("pages/line_breaks.ref", pages + Section("registration"));
    EXPECT_EQ(find_user(data_store().users, "hanako"), nullptr);
}

// -1: no poppassd module.
TEST_F(SettingsPostTest, PoppassdOutcomes) {
    Settings().poppassd_value = 1;
    std::string pages;
    for (int outcome : {5, 0, 6, 7, 8, -1}) {
        gInputs.clear();
        gOutcome = outcome;
        settings_workers().password = outcome < 0 ? nullptr : FakePasswordWorker;
        pages += Post({"user_pass0=pw", "user_pass1=new", "user_pass2=new"}) + "outcome " +
                 std::to_string(outcome) + ", poppassd given " + gInputs + "\n";
    }
    EXPECT_GOLDEN("pages/poppassd_outcomes.ref", pages);
}

TEST_F(SettingsPageTest, MailSecurityGoesWithTheServersAndKeepsOwnPorts) {
    BasicSettings& s = Settings();
    s.per_user_servers = 1;
    s.user_policy_4 = kPolicy4MayChangeServers;
    UserRecord* u = Taro();
    u->set[0].mail_security =
        kSecurityPop3Tls | kSecuritySmtpStartTls | kSecurityOwnPorts | kSecurityNoVerify;
    u->set[0].pop3_port = 10995;
    u->set[0].smtp_port = 10587;
    u->set[0].smtp_auth = kSmtpAuthPop3Login;
    Run(u, 0, PageState::SetupPage, false);
    std::string pages = Section("form");
    const std::string smtp = "user_smtp_name=127.0.0.1", pop3 = "user_pop3_name=127.0.0.1";
    // Only the administrator turns the check off; an own port follows a
    // changed security and stays where the security stayed; the login box
    // was not posted.
    Run(u, 0, PageState::SetupSubmit, true,
        {smtp, pop3, "user_pop3_security=stls", "user_smtp_security=starttls"});
    pages += Section("changed") + store_test::dump(*u);
    const SettingsSet& set = u->set[0];

    // A login of the set's own for sending: kept sealed, never shown back
    // but for the user name, kept while the field stays empty, gone with
    // the box.
    data_store().credentials.set_paths(home + "/user/mail-credentials", home + "/credentials.key");
    const auto stored = [&](const char* name) {
        return data_store().credentials.get("taro", "taro", "127.0.0.1", name);
    };
    Run(u, 0, PageState::SetupSubmit, true,
        {smtp, pop3, "user_smtp_auth=on", "user_smtp_user=send@example.jp",
         "user_smtp_pass=pw-for-smtp"});
    EXPECT_EQ(set.smtp_auth, kSmtpAuthOwnLogin);
    EXPECT_EQ(stored("smtp-user"), "send@example.jp");
    EXPECT_EQ(stored("smtp-password"), "pw-for-smtp");
    EXPECT_EQ(out.find("pw-for-smtp"), std::string::npos) << "a password is never written back";
    pages += Section("own login");
    Run(u, 0, PageState::SetupSubmit, true,
        {smtp, pop3, "user_smtp_auth=on", "user_smtp_user=send@example.jp", "user_smtp_pass="});
    EXPECT_EQ(stored("smtp-password"), "pw-for-smtp");
    Run(u, 0, PageState::SetupPage, false);
    pages += Section("own login shown");
    Run(u, 0, PageState::SetupSubmit, true, {smtp, pop3});
    EXPECT_EQ(set.smtp_auth, kSmtpAuthNone);
    EXPECT_EQ(stored("smtp-user"), "");
    EXPECT_EQ(stored("smtp-password"), "");
    data_store().credentials.set_paths("", "");

    // Without servers per user the page offers nothing and a hand-made
    // field changes nothing.
    s.per_user_servers = 0;
    Run(u, 0, PageState::SetupPage, false);
    pages += Section("no servers per user");
    const int before = set.mail_security;
    Run(u, 0, PageState::SetupSubmit, true, {"user_pop3_security=none", "user_smtp_auth=on"});
    EXPECT_GOLDEN("pages/mail_security.ref", pages + Section("hand-made fields"));
    EXPECT_EQ(set.mail_security, before);
    EXPECT_EQ(set.smtp_auth, kSmtpAuthNone);
}
