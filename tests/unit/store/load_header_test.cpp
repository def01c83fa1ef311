// Reading the settings header from images the store did not write.
#include "store/store_fixture.h"
#include <functional>

namespace {

using namespace store_test;
namespace img = store_image;

using img::HeaderDesc;

class StoreLoadHeaderTest : public DataStoreTest {
protected:
    // Loads desc with one user behind it, so the file key is checked too.
    void load_header(const HeaderDesc& desc, const img::Bytes& prefix) {
        clear_users(ds.users);
        img::SlotDesc user = sample_user("alice", 1);
        ASSERT_EQ(load(img::data_file(img::build_header(desc, prefix),
                                      {img::build_slot(user, img::file_key_of(prefix))})),
                  kLoadOk);
        expect_users({user});
    }
    BasicSettings defaults() {
        BasicSettings s;
        set_default_settings(s, ds.user_folder.c_str());
        return s;
    }
};

TEST_F(StoreLoadHeaderTest, OlderVersionsGetDefaultsForMissingItems) {
    const img::Bytes prefix = img::make_prefix(11, 7);
    // Filler 1 reads as a short non-empty string, filler equal to the key as
    // a zero format word: a reader that takes absent items shows either way.
    for (int filler : {-1, 1, int{img::file_key_of(prefix)}}) {
        // Each version an item appears with, and the one just before it.
        for (int version : {100, 111, 112, 115, 116, 134, 135, 142, 149, 150, 151}) {
            SCOPED_TRACE("version " + std::to_string(version) + " filler " +
                         std::to_string(filler));
            HeaderDesc desc = sample_settings();
            desc.version = version;
            desc.filler = filler;
            load_header(desc, prefix);
            BasicSettings want = settings_of(desc, ds.user_folder);
            const BasicSettings def = defaults();
            if (version < 112) memcpy(want.top_page, def.top_page, sizeof want.top_page);
            if (version < 116) want.admin_password[0] = 0;
            if (version < 135) {
                memcpy(want.page_colours, def.page_colours, sizeof want.page_colours);
                want.background_image[0] = 0;
                want.fixed_quotation[0] = 0;
                // Those files predate the layout words: they get fixed ones.
                want.fixed_rows = 10;
                want.fixed_columns = 80;
                want.fixed_uploads = 1;
                want.user_policy_4 = 0x74;
            }
            if (version < 150) {
                want.log_size_kb = 128;
                memcpy(want.log_folder, def.log_folder, sizeof want.log_folder);
            }
            EXPECT_EQ(settings_diff(ds.settings, want), "");
            EXPECT_TRUE(messages.empty());
        }
    }
}

TEST_F(StoreLoadHeaderTest, OptionBytesOutOfRangeKeepTheirDefaults) {
    const std::array<uint8_t, img::kOptionCount> initial = HeaderDesc{}.options;
    struct Case {
        int option, stored, want; // want -1: the value of a new file
    } cases[] = {
        {img::fixed_rows, 0, 10},        {img::fixed_rows, 1, 1},
        {img::fixed_rows, 30, 30},       {img::fixed_rows, 31, 10},
        {img::fixed_columns, 0, 80},     {img::fixed_columns, 1, 1},
        {img::fixed_columns, 200, 200},  {img::fixed_columns, 201, 80},
        {img::fixed_uploads, 0, 1},      {img::fixed_uploads, 10, 10},
        {img::fixed_uploads, 11, 1},     {img::language_policy, 0, 1},
        {img::language_policy, 3, 3},    {img::language_policy, 0x7F, 0x7F},
        {img::fixed_columns, 0x80, 128},
    };
    std::vector<Case> all(std::begin(cases), std::end(cases));
    // Every option byte with its top bit set is no value.
    for (int i = 0; i < img::kOptionCount; i++) {
        if (i != img::fixed_columns) all.push_back({i, 0x80, -1});
        all.push_back({i, 0xFF, -1});
    }
    for (const Case& c : all) {
        SCOPED_TRACE("option " + std::to_string(c.option) + " = " + std::to_string(c.stored));
        HeaderDesc desc = sample_settings();
        desc.options[c.option] = static_cast<uint8_t>(c.stored);
        load_header(desc, img::make_prefix(9, 3));
        BasicSettings want = settings_of(desc, ds.user_folder);
        want.*kOptionWords[c.option] = c.want < 0 ? initial[c.option] : c.want;
        EXPECT_EQ(settings_diff(ds.settings, want), "");
    }
}

TEST_F(StoreLoadHeaderTest, DamagedHeaders) {
    const std::string corrupt = "基本設定データが壊れています。再度設定してください。";
    // What the reader must make of settings that stop early: everything from
    // the damage on keeps the defaults of a new file.
    const BasicSettings def = defaults();
    auto log_on = [&](BasicSettings& w) {
        w.log_size_kb = 128;
        memcpy(w.log_folder, def.log_folder, sizeof w.log_folder);
    };
    auto top_page_on = [&](BasicSettings& w) {
        memcpy(w.top_page, def.top_page, sizeof w.top_page);
        w.admin_password[0] = 0;
        memcpy(w.page_colours, def.page_colours, sizeof w.page_colours);
        w.background_image[0] = 0;
        w.fixed_quotation[0] = 0;
        log_on(w);
    };
    auto pop3_on = [&](BasicSettings& w) {
        w.pop3_server[0] = 0;
        w.pop3_port = 110;
        top_page_on(w);
    };
    auto smtp_on = [&](BasicSettings& w) {
        w.smtp_server[0] = 0;
        w.smtp_port = 25;
        pop3_on(w);
    };
    struct Case {
        const char* name;
        std::function<void(HeaderDesc&)> damage;
        std::function<void(BasicSettings&)> expect;
        bool reported;
    } cases[] = {
        {"smtp server of 79 characters",
         [](HeaderDesc& d) { d.smtp_server = std::string(79, 's'); }, [](BasicSettings&) {}, false},
        {"smtp server length 80", [](HeaderDesc& d) { d.smtp_server = std::string(80, 's'); },
         smtp_on, true},
        {"pop3 server length 200", [](HeaderDesc& d) { d.pop3_server = std::string(200, 'p'); },
         pop3_on, true},
        {"missing marker", [](HeaderDesc& d) { d.marker = 'W'; }, top_page_on, false},
        {"format word 1", [](HeaderDesc& d) { d.format_word = 1; }, log_on, false},
        {"format word 0x100", [](HeaderDesc& d) { d.format_word = 0x100; }, log_on, false},
        {"over-long optional strings are skipped",
         [](HeaderDesc& d) {
             d.top_page = std::string(80, 't');
             d.admin_password = std::string(40, 'a');
             d.fixed_quotation = std::string(8, 'q');
         },
         [&](BasicSettings& w) {
             memcpy(w.top_page, def.top_page, sizeof w.top_page);
             w.admin_password[0] = 0;
             w.fixed_quotation[0] = 0;
         },
         false},
        {"negative log size", [](HeaderDesc& d) { d.log_size_kb = -2; }, [](BasicSettings&) {},
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        messages.clear();
        HeaderDesc desc = sample_settings();
        c.damage(desc);
        load_header(desc, img::make_prefix(8, 21));
        BasicSettings want = settings_of(desc, ds.user_folder);
        c.expect(want);
        EXPECT_EQ(settings_diff(ds.settings, want), "");
        EXPECT_EQ(messages,
                  c.reported ? std::vector<std::string>{corrupt} : std::vector<std::string>{});
    }
}

TEST_F(StoreLoadHeaderTest, AbsentFile) {
    EXPECT_EQ(load_data_file(ds), kLoadAbsent);
    EXPECT_TRUE(messages.empty());
}

} // namespace
