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
        img::SlotDesc user = sample_user("alice", 1);
        img::Bytes file = img::data_file(img::build_header(desc, prefix),
                                         {img::build_slot(user, img::file_key_of(prefix))});
        ASSERT_EQ(load(file), kLoadOk);
        auto u = users();
        ASSERT_EQ(u.size(), 1u);
        EXPECT_EQ(record_diff(*u[0], user), "");
    }
    BasicSettings defaults() {
        BasicSettings s;
        set_default_settings(s, ds.user_folder.c_str());
        return s;
    }
};

TEST_F(StoreLoadHeaderTest, EveryKeyLengthAndZeroXorPrefix) {
    for (int n = 8; n <= 15; n++) {
        for (bool zero_xor : {false, true}) {
            SCOPED_TRACE("N=" + std::to_string(n) + (zero_xor ? " zero xor" : ""));
            img::Bytes prefix = img::make_prefix(n, 40 + n, zero_xor);
            HeaderDesc desc = sample_settings();
            desc.filler_seed = n;
            load_header(desc, prefix);
            EXPECT_EQ(settings_diff(ds.settings, settings_of(desc, ds.user_folder)), "");
            EXPECT_EQ(ds.key.length, n);
            EXPECT_EQ(ds.key.file_key, zero_xor ? 0x78 : img::file_key_of(prefix));
            EXPECT_TRUE(messages.empty());
            clear_users(ds.users);
        }
    }
}

TEST_F(StoreLoadHeaderTest, OlderVersionsGetDefaultsForMissingItems) {
    struct Case {
        int version;
        bool top_page, admin_password, look, log, forced_layout;
    } cases[] = {
        // Each version an item appears with, and the one just before it.
        {100, false, false, false, false, true}, {111, false, false, false, false, true},
        {112, true, false, false, false, true},  {115, true, false, false, false, true},
        {116, true, true, false, false, true},   {134, true, true, false, false, true},
        {135, true, true, true, false, false},   {142, true, true, true, false, false},
        {149, true, true, true, false, false},   {150, true, true, true, true, false},
        {151, true, true, true, true, false},
    };
    const img::Bytes prefix = img::make_prefix(11, 7);
    // Filler 1 reads as a short non-empty string, filler equal to the key as
    // a zero format word: a reader that takes absent items shows either way.
    for (int filler : {-1, 1, int{img::file_key_of(prefix)}}) {
        for (const Case& c : cases) {
            SCOPED_TRACE("version " + std::to_string(c.version) + " filler " +
                         std::to_string(filler));
            HeaderDesc desc = sample_settings();
            desc.version = c.version;
            desc.filler = filler;
            load_header(desc, prefix);
            BasicSettings want = settings_of(desc, ds.user_folder);
            const BasicSettings def = defaults();
            if (!c.top_page) memcpy(want.top_page, def.top_page, sizeof want.top_page);
            if (!c.admin_password) want.admin_password[0] = 0;
            if (!c.look) {
                memcpy(want.page_colours, def.page_colours, sizeof want.page_colours);
                want.background_image[0] = 0;
                want.fixed_quotation[0] = 0;
            }
            if (!c.log) {
                want.log_size_kb = 128;
                memcpy(want.log_folder, def.log_folder, sizeof want.log_folder);
            }
            if (c.forced_layout) {
                want.fixed_rows = 10;
                want.fixed_columns = 80;
                want.fixed_uploads = 1;
                want.user_policy_4 = 0x74;
            }
            EXPECT_EQ(settings_diff(ds.settings, want), "");
            EXPECT_TRUE(messages.empty());
            clear_users(ds.users);
        }
    }
}

TEST_F(StoreLoadHeaderTest, InvalidOptionBytes) {
    // Expected value of each option word when its byte is 0x80 and 0xFF.
    const int want_80[img::kOptionCount] = {0, 0, 1, 1,  0,   0, 0, 0, 0,
                                            1, 0, 0, 10, 128, 1, 0, 0, 0};
    const int want_ff[img::kOptionCount] = {0, 0, 1, 1, 0, 0, 0, 0, 0, 1, 0, 0, 10, 80, 1, 0, 0, 0};
    for (int i = 0; i < img::kOptionCount; i++) {
        for (int stored : {0x80, 0xFF}) {
            SCOPED_TRACE("option " + std::to_string(i) + " = " + std::to_string(stored));
            HeaderDesc desc = sample_settings();
            desc.options[i] = static_cast<uint8_t>(stored);
            load_header(desc, img::make_prefix(9, 3));
            BasicSettings want = settings_of(desc, ds.user_folder);
            want.*kOptionWords[i] = stored == 0x80 ? want_80[i] : want_ff[i];
            EXPECT_EQ(settings_diff(ds.settings, want), "");
            clear_users(ds.users);
        }
    }
}

TEST_F(StoreLoadHeaderTest, OptionRanges) {
    struct Case {
        int option, stored, want;
    } cases[] = {
        {img::fixed_rows, 0, 10},       {img::fixed_rows, 1, 1},
        {img::fixed_rows, 30, 30},      {img::fixed_rows, 31, 10},
        {img::fixed_columns, 0, 80},    {img::fixed_columns, 1, 1},
        {img::fixed_columns, 200, 200}, {img::fixed_columns, 201, 80},
        {img::fixed_uploads, 0, 1},     {img::fixed_uploads, 10, 10},
        {img::fixed_uploads, 11, 1},    {img::language_policy, 0, 1},
        {img::language_policy, 3, 3},   {img::language_policy, 0x7F, 0x7F},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("option " + std::to_string(c.option) + " = " + std::to_string(c.stored));
        HeaderDesc desc = sample_settings();
        desc.options[c.option] = static_cast<uint8_t>(c.stored);
        load_header(desc, img::make_prefix(14, 5));
        EXPECT_EQ(ds.settings.*kOptionWords[c.option], c.want);
        clear_users(ds.users);
    }
}

TEST_F(StoreLoadHeaderTest, DamagedHeaders) {
    const std::string corrupt = "基本設定データが壊れています。再度設定してください。";
    // What the reader must make of settings that stop early: everything from
    // the damage on keeps the defaults of a new file.
    auto defaults_from_top_page = [this](BasicSettings& w) {
        const BasicSettings def = defaults();
        memcpy(w.top_page, def.top_page, sizeof w.top_page);
        w.admin_password[0] = 0;
        memcpy(w.page_colours, def.page_colours, sizeof w.page_colours);
        w.background_image[0] = 0;
        w.fixed_quotation[0] = 0;
        w.log_size_kb = 128;
        memcpy(w.log_folder, def.log_folder, sizeof w.log_folder);
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
         [&](BasicSettings& w) {
             w.smtp_server[0] = 0;
             w.smtp_port = 25;
             w.pop3_server[0] = 0;
             w.pop3_port = 110;
             defaults_from_top_page(w);
         },
         true},
        {"pop3 server length 200", [](HeaderDesc& d) { d.pop3_server = std::string(200, 'p'); },
         [&](BasicSettings& w) {
             w.pop3_server[0] = 0;
             w.pop3_port = 110;
             defaults_from_top_page(w);
         },
         true},
        {"missing marker", [](HeaderDesc& d) { d.marker = 'W'; }, defaults_from_top_page, false},
        {"format word 1", [](HeaderDesc& d) { d.format_word = 1; },
         [this](BasicSettings& w) {
             w.log_size_kb = 128;
             memcpy(w.log_folder, defaults().log_folder, sizeof w.log_folder);
         },
         false},
        {"format word 0x100", [](HeaderDesc& d) { d.format_word = 0x100; },
         [this](BasicSettings& w) {
             w.log_size_kb = 128;
             memcpy(w.log_folder, defaults().log_folder, sizeof w.log_folder);
         },
         false},
        {"over-long optional strings are skipped",
         [](HeaderDesc& d) {
             d.top_page = std::string(80, 't');
             d.admin_password = std::string(40, 'a');
             d.fixed_quotation = std::string(8, 'q');
         },
         [this](BasicSettings& w) {
             memcpy(w.top_page, defaults().top_page, sizeof w.top_page);
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
        clear_users(ds.users);
    }
}

TEST_F(StoreLoadHeaderTest, AbsentAndShortFiles) {
    EXPECT_EQ(load_data_file(ds), kLoadAbsent);
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(load(img::Bytes(799, 0)), kLoadFailed);
    EXPECT_EQ(messages.size(), 1u);
}

} // namespace
