#include "server_golden.h"
#include "store/settings_form.h"
#include "store/settings_page_fixture.h"

namespace {

// A label as "%-23s" writes it: padded with blanks to 23 bytes.
std::string Pad(const std::string& label) {
    return label + std::string(label.size() < 23 ? 23 - label.size() : 0, ' ');
}

std::string Options(int selected) {
    std::string s;
    for (int n = 1; n <= 10; n++)
        s += "<option" + std::string(n == selected ? " selected" : "") + ">" + std::to_string(n) +
             "</option>";
    return s;
}

} // namespace

TEST_F(SettingsPageTest, EnglishFormOfSettings1) {
    ConnectionPtr c = For(Taro(), 0, PageState::SetupPage);
    Produce(*c);
    const std::string pw = "<input type=password name=\"user_pass";
    const std::string box = "<input type=checkbox name=\"user_";
    EXPECT_GOLDEN("pages/settings1_form_en.ref", MaskDates(out));
}

TEST_F(SettingsPageTest, JapaneseRegistrationFormForAMultipartBrowser) {
    ConnectionPtr c = For(nullptr, -1, PageState::NewUserPage, 0);
    c->browser = kBrowserMozilla2;
    Produce(*c);
    // The form of Settings 1 for a new user: an id to choose, no old password,
    // a multipart post. Labels are padded by bytes, two per Shift_JIS letter.
    const std::string title = Sjis("ユーザーの追加");
    for (const std::string& piece :
         {"<title>" + title + "</title>" + kHeadLines + "</head><body>" +
              LangSwitch(false, "/?lang=eng") + "<center><font size=+1>" + title +
              "</font>\r\n</center><form method=\"post\" enctype=\"multipart/form-data\" "
              "action=\"/mail/new/index.html\">\r\n<pre>" +
              Pad(Sjis("名前")) + ": <input type=text name=\"user_name\" value=\"\"",
          Pad(Sjis("POP3 ユーザー名")) +
              ": <input type=text name=\"user_id\" value=\"\" size=40 maxlength=40>\r\n" +
              Pad(Sjis("パスワード")) + ": <input type=password name=\"user_pass1\"",
          Pad(Sjis("添付ファイルの数")) + ": <select name=\"user_upload_no\">" + Options(1),
          "<input type=\"submit\" value=\"" + Sjis("登録") + "\">  <input type=\"reset\" value=\"" +
              Sjis("やり直し") + "\"></pre></form>\r\n<center><hr><a href=\"/\">" +
              Sjis("トップページへ") + "</a></center></body></html>"})
        EXPECT_TRUE(Has(out, piece)) << piece << "\n" << out;
    EXPECT_FALSE(Has(out, "user_pass0"));
}

TEST_F(SettingsPageTest, RegistrationPagesAreMissingWhileRegistrationIsOff) {
    Settings().browser_registration = 0;
    for (PageState s : {PageState::NewUserPage, PageState::NewUserSubmit}) {
        out.clear();
        ConnectionPtr c = For(nullptr, -1, s);
        Field(*c, "user_id=hanako");
        Produce(*c);
        EXPECT_TRUE(Has(out, "Designated URL does not exist.")) << out;
    }
    EXPECT_EQ(count_users(data_store().users), 0);
}

TEST_F(SettingsPageTest, TabRowOfSets) {
    Settings().multiple_addresses = 1;
    UserRecord* u = Taro();
    ConnectionPtr c = For(u, 0, PageState::SetupPage);
    Produce(*c);
    EXPECT_TRUE(Has(out, "<center>Settings 1  <a href=\"/mail/setup/index2.html" + q +
                             "\">Add to the Settings 2</a></center><hr><br>"))
        << out;
    EXPECT_FALSE(Has(out, "Settings 3"));
    EXPECT_FALSE(Has(out, "/mail/setup/delete"));

    // Settings 2 shown: no display options, and its delete button.
    out.clear();
    snprintf(u->set[1].id, sizeof u->set[1].id, "taro2");
    c = For(u, 1, PageState::SetupPage);
    Produce(*c);
    EXPECT_TRUE(Has(out, "<center><a href=\"/mail/setup/index.html" + q +
                             "\">Change in the Settings 1</a>  Settings 2  <a "
                             "href=\"/mail/setup/index3.html" +
                             q + "\">Add to the Settings 3</a></center>"))
        << out;
    EXPECT_TRUE(Has(out, "<hr><form method=\"post\" action=\"/mail/setup/delete2.html" + q +
                             "\"><input type=\"submit\" value=\"Delete all settings 2\"></form>"));
    EXPECT_FALSE(Has(out, "user_row_count"));
}

TEST_F(SettingsPageTest, FixedValuesAreNeitherOfferedNorEditable) {
    BasicSettings& s = Settings();
    s.user_policy_1 = kPolicy1PasswordFixed | kPolicy1SignatureFixed | kPolicy1UploadNoFixed;
    s.user_policy_2 = kPolicy2HeaderFixed;
    s.language_policy = 1 | kLanguageQuotationFixed | kLanguageRowsFixed;
    s.per_user_servers = 1;
    s.user_policy_4 = kPolicy4MayChangeServers;
    s.apop_changeable = 1;
    s.mail_options = kMailDeleteLinkChangeable;
    ConnectionPtr c = For(Taro(), 0, PageState::SetupPage);
    Produce(*c);
    for (const char* absent :
         {"user_pass", "textarea", "user_quotation", "user_row_count", "user_upload_no",
          "user_header_flag", "type=text name=\"user_name\""})
        EXPECT_FALSE(Has(out, absent)) << absent;
    for (const char* present :
         {"Taro<input type=hidden name=\"user_name\" value=\"Taro\">", "name=\"user_smtp_name\"",
          "name=\"user_pop3_name\"", "name=\"user_column_count\"", "name=\"user_delete_link\"",
          "name=\"user_apop_flag\">Use APOP"})
        EXPECT_TRUE(Has(out, present)) << present;
}

TEST_F(SettingsPageTest, PostedFieldsKeepWholeCharactersAndTheirLimits) {
    ConnectionPtr c = For(Taro(), 0, PageState::SetupSubmit);
    // 38 letters and a two-byte character: the character does not fit in 39.
    Field(*c, "user_name=" + std::string(38, 'a') + Sjis("名"));
    Field(*c, "user_quotation=>>>>>>");
    Field(*c, "user_folding=anything");
    Field(*c, "user_unknown=1");
    EXPECT_EQ(std::string(c->formSlots[kSlotName]), std::string(38, 'a'));
    EXPECT_EQ(std::string(c->formSlots[kSlotQuotation]), ">>>>");
    EXPECT_EQ(std::string(c->formSlots[kSlotFolding]), "1");

    // A multipart field: the name in scratch, the value line in receiveBuffer.
    snprintf(c->scratch, sizeof c->scratch, "mail_address");
    snprintf(c->receiveBuffer, sizeof c->receiveBuffer, "a\x1b$B@b.jp\r");
    SettingsUserField(*c, c->receiveBuffer, 0);
    EXPECT_EQ(std::string(c->formSlots[kSlotMailAddress]), "a$B@b.jp");
}
