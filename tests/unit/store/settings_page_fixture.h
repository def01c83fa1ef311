// Settings page tests: a gateway home with a data file, the settings
// producers installed, and posts fed through the form reader.
#pragma once
#include "server/form/form_reader.h"
#include "server/form/form_reading.h"
#include "server/route/page_fixture.h"
#include "store/pages/settings_page.h"

#include <cstring>
#include <string>

class SettingsPageTest : public PageTest {
protected:
    void SetUp() override {
        PageTest::SetUp();
        ASSERT_EQ(create_data_file(data_store()), 1);
    }
    BasicSettings& Settings() { return data_store().settings; }

    // A logged-in user "taro" with a name, a password "pw" and a signature.
    UserRecord* Taro() {
        UserRecord* u = LoggedIn("taro");
        set_default_options(*u);
        snprintf(u->set[0].name, sizeof u->set[0].name, "Taro");
        snprintf(u->set[0].signature, sizeof u->set[0].signature, "Sig");
        snprintf(u->set[0].quotation, sizeof u->set[0].quotation, ">");
        return u;
    }
    // A connection of u asking for set in state.
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
    // One decoded urlencoded line of the body.
    static void Field(Connection& c, const std::string& line) {
        snprintf(c.line, sizeof c.line, "%s", line.c_str());
        FormLine(c);
    }
    // The fields a browser posts for Settings 1 of Taro without changes.
    static void Unchanged(Connection& c) {
        for (const char* f : {"user_name=Taro", "user_mail_address=taro@example.jp", "user_id=taro",
                              "user_pass0=", "user_pass1=", "user_pass2=", "user_quotation=>",
                              "user_column_count=80", "user_row_count=10", "user_upload_no=1",
                              "user_header_flag=on", "message=Sig"})
            Field(c, f);
    }
    // Runs the dispatcher until the page is done.
    static void Produce(Connection& c) {
        for (int pass = 0; pass < 5 && c.state != PageState::Done; pass++) Dispatcher(c);
    }
    // A request of u (nullptr: a new user) for set in state, with the fields
    // of Settings 1 as shown when asked and then fields; the answer replaces
    // out.
    void Run(UserRecord* u, int set, PageState state, bool shown,
             std::initializer_list<std::string> fields = {}) {
        out.clear();
        ConnectionPtr c = For(u, set, state);
        if (shown) Unchanged(*c);
        for (const std::string& f : fields) Field(*c, f);
        Produce(*c);
    }
    // The answer so far under a heading, for a golden of several pages.
    std::string Section(const std::string& name) const {
        return "=== " + name + "\n" + MaskDates(out) + "\n";
    }
};
