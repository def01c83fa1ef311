// The settings pages of a user's sets and of a new user's registration: a
// gateway home with a data file, the settings producers installed, and posts
// fed through the form reader. Most cases are the scripts of pages.cases.
#include "account/settings_form.h"
#include "account/settings_page.h"
#include "account/settings_steps.h"
#include "mail/list/received_list.h"
#include "mail/mail_golden.h"
#include "mail/pop3/pop3_login_check.h"
#include "page/form_reading.h"
#include "server/form/form_reader.h"
#include "server/route/page_fixture.h"
#include "store/store_fixture.h"
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

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

// The basic settings and page states a script names.
using SettingWord = int BasicSettings::*;
#define NAMED(name) std::pair<const char*, SettingWord>(#name, &BasicSettings::name)
const std::pair<const char*, SettingWord> kSettingNames[] = {
    NAMED(multiple_addresses), NAMED(per_user_servers), NAMED(browser_registration),
    NAMED(poppassd_value),     NAMED(user_policy_1),    NAMED(user_policy_2),
    NAMED(user_policy_3),      NAMED(user_policy_4),    NAMED(language_policy),
    NAMED(apop_changeable),    NAMED(mail_options)};
#undef NAMED
const std::pair<const char*, int> kSlotNames[] = {{"name", kSlotName},
                                                  {"mail_address", kSlotMailAddress},
                                                  {"quotation", kSlotQuotation},
                                                  {"folding", kSlotFolding}};

class SettingsPageTest : public PageTest {
protected:
    void SetUp() override {
        PageTest::SetUp();
        ASSERT_EQ(create_data_file(data_store()), 1);
    }

    // A logged-in user "taro" with a name, a password "pw" and a signature.
    UserRecord* Taro() {
        UserRecord* u = LoggedIn("taro");
        set_default_options(*u);
        snprintf(u->set[0].name, sizeof u->set[0].name, "Taro");
        snprintf(u->set[0].signature, sizeof u->set[0].signature, "Sig");
        snprintf(u->set[0].quotation, sizeof u->set[0].quotation, ">");
        return u;
    }
    // A connection of u (nullptr: a new user) asking for set in state.
    ConnectionPtr For(UserRecord* u, int set, PageState state, int english = 1) {
        ConnectionPtr c = Capture(english);
        c->user = u;
        c->settingsIndex = static_cast<int16_t>(set);
        c->route = u ? Route::Setup : Route::NewUser;
        if (u)
            snprintf(c->loginQuery, sizeof c->loginQuery, "?user=%s?check=5%s", u->set[0].id,
                     english ? "?lang=eng" : "");
        c->form.bodyMode = kBodyUrlencoded;
        c->state = state;
        return c;
    }
    void Play(const mail_golden::Record& record);
};

// The actions of pages.cases, on a fresh gateway for each script.
void SettingsPageTest::Play(const mail_golden::Record& record) {
    UserRecord* u = nullptr;
    std::vector<std::pair<std::string, bool>> fields; // the line, whether it held a break
    size_t signature = 0;
    std::string pages, kept;
    const auto expand = [&](std::string t) {
        using mail_golden::Replaced;
        t = Replaced(t, "{password}", u ? u->set[0].password : "");
        t = Replaced(t, "{signature}", u ? std::to_string(strlen(u->set[0].signature)) : "");
        return Replaced(Replaced(t, "{given}", gInputs), "{asked}", gCheckAsked);
    };
    ConnectionPtr c;
    // Reads the queued fields into a connection, which "request" produces.
    const auto fill = [&](const std::string& a, bool produce) {
        std::istringstream in(a);
        std::string set, state;
        in >> set >> state;
        const int english = a.find(" ja") == std::string::npos;
        out.clear();
        c = set == "new" ? For(nullptr, -1, StateNamed(state), english)
                         : For(u, std::stoi(set), StateNamed(state));
        if (a.find(" mozilla2") != std::string::npos) c->browser = kBrowserMozilla2;
        for (const auto& [line, broken] : fields) {
            c->form.valueBroken = broken;
            FormField(*c, line);
        }
        c->form.valueBroken = 0;
        if (signature) {
            c->messageText[0] = '\0';
            c->messageLength = 0;
            AppendMessage(*c, std::string(signature, 's').c_str());
        }
        fields.clear();
        signature = 0;
        if (produce) Produce(*c);
    };
    const auto argument = [](const std::string& a, int k) {
        const size_t blank = a.find(' ');
        return k == 0 ? a.substr(0, blank) : blank == std::string::npos ? "" : a.substr(blank + 1);
    };
    mail_golden::Play(
        record,
        {{"set",
          [&](S a) {
              settings().*ValueNamed(kSettingNames, argument(a, 0), "setting",
                                     &BasicSettings::multiple_addresses) =
                  std::stoi(argument(a, 1));
          }},
         {"add", [&](S a) { AddUser(a); }},
         {"taro",
          [&](S) {
              clear_users(data_store().users);
              u = Taro();
          }},
         {"user", [&](S a) { store_test::set_fields(*u, a); }},
         {"shown",
          [&](S) {
              // What a browser posts for Settings 1 of Taro without changes.
              for (const auto& f : SERVER_CASES("shown_fields.ref"))
                  fields.emplace_back(f.at(0), false);
          }},
         {"field", [&](S a) { fields.emplace_back(a, false); }},
         {"broken", [&](S a) { fields.emplace_back(a, true); }},
         {"signature", [&](S a) { signature = std::stoul(a); }},
         {"fill", [&](S a) { fill(a, false); }},
         {"request", [&](S a) { fill(a, true); }},
         {"multipart",
          [&](S a) {
              // The name in fieldName, the value line in receiveBuffer.
              server_cases::Put(c->fieldName, argument(a, 0));
              server_cases::Put(c->receiveBuffer, argument(a, 1));
              SettingsUserField(*c, c->receiveBuffer, 0);
          }},
         {"slot",
          [&](S a) {
              const int slot = ValueNamed(kSlotNames, argument(a, 0), "slot", 0);
              EXPECT_EQ(std::string(c->formSlots[slot]), argument(a, 1));
          }},
         {"poppassd",
          [&](S a) {
              gInputs.clear();
              gOutcome = std::stoi(a);
              settings_workers().password = gOutcome < 0 ? nullptr : FakePasswordWorker;
          }},
         {"check-answer",
          [&](S a) {
              gCheckAsked.clear();
              gCheckAnswer = std::stoi(a);
              settings_workers().registrationCheck = FakeCheck;
          }},
         {"credentials",
          [&](S a) {
              data_store().credentials.set_paths(a.empty() ? "" : home + "/user/mail-credentials",
                                                 a.empty() ? "" : home + "/credentials.key");
          }},
         {"page", [&](S) { pages += MaskDates(out); }},
         {"section", [&](S a) { pages += "=== " + expand(a) + "\n" + MaskDates(out) + "\n"; }},
         {"text", [&](S a) { pages += expand(a) + "\n"; }},
         {"dump", [&](S) { pages += store_test::dump(*u); }},
         {"registered",
          [&](S a) {
              DataStore reread;
              reread.data_path = data_store().data_path;
              reread.user_folder = data_store().user_folder;
              ASSERT_EQ(load_data_file(reread), kLoadOk);
              const UserRecord* r = find_user(reread.users, a.c_str());
              ASSERT_NE(r, nullptr);
              pages += store_test::dump(*r);
              clear_users(reread.users);
          }},
         {"golden",
          [&](S a) {
              EXPECT_GOLDEN(a, pages);
              pages.clear();
          }},
         {"is",
          [&](S a) {
              EXPECT_NE(("\n" + store_test::dump(*u)).find("\n" + a + "\n"), std::string::npos);
          }},
         {"keep", [&](S) { kept = store_test::dump(*u); }},
         {"unchanged", [&](S) { EXPECT_EQ(store_test::dump(*u), kept); }},
         {"given", [&](S a) { EXPECT_EQ(gInputs, a); }},
         {"no-user", [&](S a) { EXPECT_EQ(find_user(data_store().users, a.c_str()), nullptr); }},
         {"users", [&](S a) { EXPECT_EQ(count_users(data_store().users), std::stoi(a)); }},
         {"no-page", [&](S a) { EXPECT_EQ(out.find(a), std::string::npos) << a; }},
         {"stored", [&](S a) {
              EXPECT_EQ(
                  data_store().credentials.get("taro", "taro", "127.0.0.1", argument(a, 0).c_str()),
                  argument(a, 1));
          }}});
}

TEST_F(SettingsPageTest, Scripts) {
    for (const auto& record : CASE_BLOCKS("pages.cases")) {
        SCOPED_TRACE(record.back());
        Play(record);
        data_store().credentials.set_paths("", "");
        TearDown();
        SetUp();
    }
}

TEST_F(SettingsPageTest, DeletingSettings2MovesSettings3Up) {
    settings().multiple_addresses = 1;
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
    EXPECT_GOLDEN("deleted_settings2.ref",
                  out.substr(out.find("\r\n\r\n") + 4) + store_test::dump(*u));
    free_kept_list(u, 1);

    // Settings 1 holds the key: the request only shows its page.
    out.clear();
    Produce(*For(u, 0, PageState::SetupDeleteSubmit));
    EXPECT_GOLDEN("settings1_not_deleted.ref", MaskDates(out) + store_test::dump(*u));
}

} // namespace
