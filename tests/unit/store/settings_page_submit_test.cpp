#include "mail/list/received_list.h"
#include "mail/pop3/pop3_login_check.h"
#include "server_golden.h"
#include "store/mail_security.h"
#include "store/settings_form.h"
#include "store/settings_page_fixture.h"
#include "store/settings_steps.h"

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

const std::string kErrorHead = "<center><font size=+1>Input error</font><br><br>\r\n";

} // namespace

TEST_F(SettingsPageTest, EntryAreaAndSignatureLimits) {
    const std::string cols = "Number of columns that can be set for the entry area is 10-200.";
    const std::string rows = "Number of rows that can be set for the entry area is 1-30.";
    struct Case {
        const char* field;
        std::string error; // empty: accepted
        const char* redisplayed;
    } cases[] = {
        {"user_column_count=10", "", ""},           {"user_column_count=9", cols, "cols=80"},
        {"user_column_count=201", cols, "cols=80"}, {"user_row_count=30", "", ""},
        {"user_row_count=0", rows, "rows=10"},      {"user_row_count=31", rows, "rows=10"},
    };
    for (const Case& k : cases) {
        out.clear();
        clear_users(data_store().users);
        PostAsTaro({k.field});
        if (k.error.empty()) {
            EXPECT_TRUE(Has(out, "Changes completed.")) << k.field << "\n" << out;
            continue;
        }
        EXPECT_TRUE(Has(Body(), kErrorHead + k.error + "<br><hr></center>")) << k.field << out;
        EXPECT_TRUE(Has(out, k.redisplayed)) << k.field;
    }

    for (size_t length : {499u, 500u}) {
        out.clear();
        clear_users(data_store().users);
        UserRecord* u = Taro();
        ConnectionPtr c = For(u, 0, PageState::SetupSubmit);
        Unchanged(*c);
        c->messageText[0] = '\0';
        c->messageLength = 0;
        AppendMessage(*c, std::string(length, 's').c_str());
        Produce(*c);
        if (length == 499) {
            EXPECT_EQ(strlen(u->set[0].signature), 499u);
        } else {
            EXPECT_TRUE(Has(out, "Signature is too long<br>"));
            EXPECT_STREQ(u->set[0].signature, "Sig");
        }
    }
}

TEST_F(SettingsPageTest, AnotherUsersIdReplacesTheListSoFar) {
    AddUser("jiro");
    Settings().user_policy_3 = kPolicy3MayChangeId;
    UserRecord* u = PostAsTaro({"user_id=jiro", "user_name=", "user_mail_address=a@b"});
    EXPECT_TRUE(Has(Body(), kErrorHead + "Already registered POP3 user name<br>Enter your name."
                                         "<br>Mail address is incorrect.<br><hr></center>"))
        << out;
    EXPECT_STREQ(u->set[0].id, "taro");
}

TEST_F(SettingsPageTest, NameOnlyChangeKeepsThePasswordAndShowsTheResult) {
    UserRecord* u = PostAsTaro({"user_name=Taro Yamada"});
    EXPECT_STREQ(u->set[0].password, "pw");
    EXPECT_STREQ(u->set[0].name, "Taro Yamada");
    EXPECT_EQ(u->options[header_flag], 1);
    EXPECT_GOLDEN("pages/name_only_change.ref", MaskDates(out));
}

TEST_F(SettingsPageTest, PasswordRules) {
    struct Case {
        const char* pass0;
        const char* pass1;
        const char* pass2;
        int fixed;
        const char* error;
        const char* stored;
    } cases[] = {
        {"pw", "new", "new", 0, "", "new"},
        {"bad", "new", "new", 0, "The old password is incorrect.<br>", "pw"},
        {"", "new", "new", 0, "The old password is incorrect.<br>", "pw"},
        {"pw", "new", "other", 0,
         "Enter the same password in New Password and New Password (Reentry).<br>", "pw"},
        {"pw", "", "", 0,
         "Enter the new password in the New Password and New Password (Reentry).<br>", "pw"},
        // A fixed password is not for the user to change, whatever is posted.
        {"pw", "new", "new", kPolicy1PasswordFixed, "", "pw"},
    };
    for (const Case& k : cases) {
        out.clear();
        clear_users(data_store().users);
        Settings().user_policy_1 = kPolicy1MayChangeName | k.fixed;
        UserRecord* u =
            PostAsTaro({std::string("user_pass0=") + k.pass0, std::string("user_pass1=") + k.pass1,
                        std::string("user_pass2=") + k.pass2});
        EXPECT_STREQ(u->set[0].password, k.stored) << k.pass0 << "/" << k.pass1;
        EXPECT_TRUE(Has(out, k.error)) << out;
    }
}

TEST_F(SettingsPageTest, AddingSecondSet) {
    Settings().multiple_addresses = 1;
    UserRecord* u = Taro();
    ConnectionPtr c = For(u, 1, PageState::SetupSubmit);
    for (const char* f : {"user_name=Work", "user_mail_address=t@work.example", "user_id=t.work",
                          "user_pass1=a", "user_pass2=a"})
        Field(*c, f);
    Produce(*c);
    EXPECT_STREQ(u->set[1].id, "t.work");
    EXPECT_STREQ(u->set[1].password, "a");
    EXPECT_EQ(u->set[1].pop3_port, 110);
    EXPECT_TRUE(Has(out, "<font size=+1>Contents of Settings 2</font>")) << out;
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
    EXPECT_STREQ(u->set[1].id, "third");
    EXPECT_STREQ(u->set[1].mail_address, "t@third.example");
    EXPECT_EQ(u->set[1].apop_flag, 1);
    EXPECT_EQ(u->runtime.pop3Status[1], 7);
    EXPECT_EQ(u->runtime.keptList[1], thirdList);
    EXPECT_FALSE(u->set[2].id[0]);
    EXPECT_EQ(u->set[2].apop_flag, 0);
    EXPECT_EQ(u->runtime.keptList[2], nullptr);
    EXPECT_EQ(u->runtime.pop3Status[2], 0);
    EXPECT_GOLDEN("pages/deleted_settings2.ref", Body());
    free_kept_list(u, 1);

    // Settings 1 holds the key: the request only shows its page.
    out.clear();
    c = For(u, 0, PageState::SetupDeleteSubmit);
    Produce(*c);
    EXPECT_STREQ(u->set[0].id, "taro");
    EXPECT_TRUE(Has(out, "<title>Change in Taro Settings</title>"));
}

// What the POP3 server would answer the registration's login with.
int gCheckAnswer = 0;
std::string gCheckAsked;

void FakeCheck(Connection& c) {
    gCheckAsked = registration_probe(c).id + std::string(":") + registration_probe(c).password;
    c.workerResult = gCheckAnswer;
    snprintf(c.formSlots[kSlotCheckRefusal], kFieldSize, "-ERR [AUTH] <b>no</b>");
}

TEST_F(SettingsPageTest, RegistrationIsWrittenToTheDataFileOnlyOnceThePop3ServerTookTheLogin) {
    StartRegistrationCheck = FakeCheck;
    const auto post = [&] {
        out.clear();
        ConnectionPtr c = For(nullptr, -1, PageState::NewUserSubmit);
        for (const char* f :
             {"user_name=Hanako", "user_mail_address=hanako@example.jp", "user_id=hanako",
              "user_pass1=secret", "user_pass2=secret", "user_column_count=72", "user_row_count=20",
              "user_upload_no=3", "user_cc_flag=on"})
            Field(*c, f);
        Produce(*c);
    };
    gCheckAnswer = static_cast<int>(LoginCheckOutcome::Refused);
    post();
    EXPECT_EQ(gCheckAsked, "hanako:secret");
    EXPECT_TRUE(Has(out, "The POP3 server did not accept this user name and password.<br>"
                         "-ERR [AUTH] &lt;b&gt;no&lt;/b&gt;<br>"))
        << out;
    gCheckAnswer = static_cast<int>(LoginCheckOutcome::ConnectFailed);
    post();
    EXPECT_TRUE(Has(out, "The POP3 server could not be reached")) << out;
    EXPECT_EQ(find_user(data_store().users, "hanako"), nullptr);

    gCheckAnswer = static_cast<int>(LoginCheckOutcome::Accepted);
    post();
    StartRegistrationCheck = nullptr;
    EXPECT_TRUE(Has(out, "<title>Registration completed.</title>")) << out;
    EXPECT_TRUE(Has(out, "<center><hr><a href=\"/\">Go to top page</a></center></body></html>"));

    DataStore reread;
    reread.data_path = data_store().data_path;
    reread.user_folder = data_store().user_folder;
    ASSERT_EQ(load_data_file(reread), kLoadOk);
    const UserRecord* r = find_user(reread.users, "hanako");
    ASSERT_NE(r, nullptr);
    EXPECT_STREQ(r->set[0].password, "secret");
    EXPECT_STREQ(r->set[0].mail_address, "hanako@example.jp");
    EXPECT_EQ(r->options[column_count], 72);
    EXPECT_EQ(r->options[row_count], 20);
    EXPECT_EQ(r->options[upload_no], 3);
    EXPECT_EQ(r->options[cc_flag], 1);
    EXPECT_EQ(r->options[header_flag], 0);
    EXPECT_EQ(r->options[reserved_option_7], 1);
    clear_users(reread.users);
}

// The form reader marks a value that held a line break (it reached the
// handler cut there); such a password or user name is refused, never stored
// or handed to poppassd.
TEST_F(SettingsPageTest, ValuesThatHeldALineBreakAreRefused) {
    Settings().poppassd_value = 1;
    StartPasswordWorker = FakePasswordWorker;
    gInputs.clear();
    UserRecord* u = Taro();
    ConnectionPtr c = For(u, 0, PageState::SetupSubmit);
    Unchanged(*c);
    Field(*c, "user_pass0=pw");
    c->valueBroken = 1;
    Field(*c, "user_pass1=new");
    c->valueBroken = 0;
    Field(*c, "user_pass2=new");
    Produce(*c);
    EXPECT_TRUE(Has(Body(), kErrorHead + "Line breaks cannot be used in New Password.<br>")) << out;
    EXPECT_STREQ(u->set[0].password, "pw");
    EXPECT_EQ(gInputs, "");

    // Registration, on a Japanese page.
    out.clear();
    c = For(nullptr, -1, PageState::NewUserSubmit, 0);
    for (const char* f : {"user_name=Hanako", "user_mail_address=hanako@example.jp",
                          "user_pass1=secret", "user_pass2=secret"})
        Field(*c, f);
    c->valueBroken = 1;
    Field(*c, "user_id=hanako");
    Produce(*c);
    EXPECT_TRUE(Has(out, Sjis("POP3 ユーザー名 に改行は使えません<br>"))) << out;
    EXPECT_EQ(find_user(data_store().users, "hanako"), nullptr);
}

TEST_F(SettingsPageTest, PoppassdOutcomes) {
    Settings().poppassd_value = 1;
    struct Case {
        int outcome;
        const char* shown;
        const char* stored;
    } cases[] = {
        {5, "Password has changed using poppassd.<br><br>", "new"},
        {0, "Changes completed.", "new"},
        {6, "Server not found.\r\n<hr></center>", "pw"},
        {7, "Connection has failed.\r\n<hr></center>", "pw"},
        {8, "Error message\r\nOld password &lt;wrong&gt;\r\n<hr></center>", "pw"},
        {-1, "Connection has failed.\r\n<hr></center>", "pw"}, // no poppassd module
    };
    for (const Case& k : cases) {
        out.clear();
        clear_users(data_store().users);
        gInputs.clear();
        gOutcome = k.outcome;
        StartPasswordWorker = k.outcome < 0 ? nullptr : FakePasswordWorker;
        UserRecord* u = PostAsTaro({"user_pass0=pw", "user_pass1=new", "user_pass2=new"});
        if (k.outcome >= 0) {
            EXPECT_EQ(gInputs, "taro|pw|new|0");
        }
        EXPECT_TRUE(Has(out, k.shown)) << k.outcome << "\n" << out;
        EXPECT_STREQ(u->set[0].password, k.stored) << k.outcome;
        if (std::string(k.stored) == "pw") {
            EXPECT_TRUE(Has(out, "Password updating process by poppassd has failed."));
            EXPECT_TRUE(Has(out, "name=\"user_pass0\"")); // the form again
        }
    }
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
    ConnectionPtr page = For(u, 0, PageState::SetupPage);
    Produce(*page);
    EXPECT_TRUE(Has(out, "POP3 security          : <select name=\"user_pop3_security\">"
                         "<option value=\"none\">None<option value=\"stls\">STLS"
                         "<option value=\"tls\" selected>SSL/TLS (from the start)</select>\r\n"));
    EXPECT_TRUE(Has(out, "<option value=\"starttls\" selected>STARTTLS"));
    EXPECT_TRUE(Has(out, "<input type=checkbox name=\"user_smtp_auth\" checked>"));
    EXPECT_TRUE(Has(out, "The administrator turned off certificate checks for these servers."));

    out.clear();
    ConnectionPtr post = For(u, 0, PageState::SetupSubmit);
    Unchanged(*post);
    for (const char* f : {"user_smtp_name=127.0.0.1", "user_pop3_name=127.0.0.1",
                          "user_pop3_security=stls", "user_smtp_security=starttls"})
        Field(*post, f);
    Produce(*post);
    const SettingsSet& set = u->set[0];
    EXPECT_EQ(set.mail_security & kSecurityPop3Mask, kSecurityPop3Stls);
    EXPECT_EQ(set.mail_security & kSecuritySmtpMask, kSecuritySmtpStartTls);
    EXPECT_NE(set.mail_security & kSecurityNoVerify, 0) << "only the administrator turns it on";
    EXPECT_EQ(set.pop3_port, 110) << "an own port follows the changed security";
    EXPECT_EQ(set.smtp_port, 10587) << "and stays where the security stayed";
    EXPECT_EQ(set.smtp_auth, kSmtpAuthNone) << "the box was not posted";
    EXPECT_TRUE(Has(out, "POP3 security          : STLS<br>"));
    EXPECT_TRUE(Has(out, "SMTP authentication (POP3 user name and password): No<br>"));

    // A login of the set's own for sending: kept sealed, never shown back
    // but for the user name, kept while the field stays empty, gone with
    // the box.
    data_store().credentials.set_paths(home + "/user/mail-credentials", home + "/credentials.key");
    const auto postLogin = [&](std::initializer_list<const char*> fields) {
        out.clear();
        ConnectionPtr p = For(u, 0, PageState::SetupSubmit);
        Unchanged(*p);
        for (const char* f : {"user_smtp_name=127.0.0.1", "user_pop3_name=127.0.0.1"}) Field(*p, f);
        for (const char* f : fields) Field(*p, f);
        Produce(*p);
    };
    const auto stored = [&](const char* name) {
        return data_store().credentials.get("taro", "taro", "127.0.0.1", name);
    };
    postLogin(
        {"user_smtp_auth=on", "user_smtp_user=send@example.jp", "user_smtp_pass=pw-for-smtp"});
    EXPECT_EQ(set.smtp_auth, kSmtpAuthOwnLogin);
    EXPECT_EQ(stored("smtp-user"), "send@example.jp");
    EXPECT_EQ(stored("smtp-password"), "pw-for-smtp");
    EXPECT_FALSE(Has(out, "pw-for-smtp")) << "a password is never written back";
    postLogin({"user_smtp_auth=on", "user_smtp_user=send@example.jp", "user_smtp_pass="});
    EXPECT_EQ(stored("smtp-password"), "pw-for-smtp");
    out.clear();
    ConnectionPtr shown = For(u, 0, PageState::SetupPage);
    Produce(*shown);
    EXPECT_TRUE(Has(out, "name=\"user_smtp_user\" value=\"send@example.jp\"")) << out;
    postLogin({});
    EXPECT_EQ(set.smtp_auth, kSmtpAuthNone);
    EXPECT_EQ(stored("smtp-user"), "");
    EXPECT_EQ(stored("smtp-password"), "");
    data_store().credentials.set_paths("", "");

    // Without servers per user the page offers nothing and a hand-made
    // field changes nothing.
    s.per_user_servers = 0;
    out.clear();
    ConnectionPtr plain = For(u, 0, PageState::SetupPage);
    Produce(*plain);
    EXPECT_FALSE(Has(out, "user_pop3_security"));
    const int before = set.mail_security;
    ConnectionPtr handMade = For(u, 0, PageState::SetupSubmit);
    Unchanged(*handMade);
    Field(*handMade, "user_pop3_security=none");
    Field(*handMade, "user_smtp_auth=on");
    Produce(*handMade);
    ASSERT_TRUE(Has(out, "Changes completed."));
    EXPECT_EQ(set.mail_security, before);
    EXPECT_EQ(set.smtp_auth, kSmtpAuthNone);
}
