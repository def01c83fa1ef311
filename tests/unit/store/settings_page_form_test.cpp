#include "server_golden.h"
#include "store/pages/settings_form.h"
#include "store/settings_page_fixture.h"

TEST_F(SettingsPageTest, EnglishFormOfSettings1) {
    Run(Taro(), 0, PageState::SetupPage, false);
    EXPECT_GOLDEN("pages/settings1_form_en.ref", MaskDates(out));
}

// The form of Settings 1 for a new user: an id to choose, no old password, a
// multipart post. Labels are padded by bytes, two per Shift_JIS letter.
TEST_F(SettingsPageTest, JapaneseRegistrationFormForAMultipartBrowser) {
    ConnectionPtr c = For(nullptr, -1, PageState::NewUserPage, 0);
    c->browser = kBrowserMozilla2;
    Produce(*c);
    EXPECT_GOLDEN("pages/registration_form_ja.ref", MaskDates(out));
}

TEST_F(SettingsPageTest, RegistrationPagesAreMissingWhileRegistrationIsOff) {
    Settings().browser_registration = 0;
    std::string pages;
    for (PageState s : {PageState::NewUserPage, PageState::NewUserSubmit}) {
        Run(nullptr, -1, s, false, {"user_id=hanako"});
        pages += Section(s == PageState::NewUserPage ? "form" : "post");
    }
    EXPECT_GOLDEN("pages/registration_off.ref", pages);
    EXPECT_EQ(count_users(data_store().users), 0);
}

// Settings 1 offers to add Settings 2; Settings 2 shows no display options,
// and its delete button.
TEST_F(SettingsPageTest, TabRowOfSets) {
    Settings().multiple_addresses = 1;
    UserRecord* u = Taro();
    Run(u, 0, PageState::SetupPage, false);
    std::string pages = Section("settings 1");
    snprintf(u->set[1].id, sizeof u->set[1].id, "taro2");
    Run(u, 1, PageState::SetupPage, false);
    EXPECT_GOLDEN("pages/tab_row.ref", pages + Section("settings 2"));
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
    Run(Taro(), 0, PageState::SetupPage, false);
    EXPECT_GOLDEN("pages/fixed_values.ref", MaskDates(out));
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

    // A multipart field: the name in fieldName, the value line in receiveBuffer.
    snprintf(c->fieldName, sizeof c->fieldName, "mail_address");
    snprintf(c->receiveBuffer, sizeof c->receiveBuffer, "a\x1b$B@b.jp\r");
    SettingsUserField(*c, c->receiveBuffer, 0);
    EXPECT_EQ(std::string(c->formSlots[kSlotMailAddress]), "a$B@b.jp");
}
