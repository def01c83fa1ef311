// Reading the settings header, from images the store did not write: older
// versions and damaged files.
#include "store/store_fixture.h"
#include <cstring>
#include <functional>

namespace {

using namespace store_test;

class StoreLoadHeaderTest : public DataStoreTest {
protected:
    // Loads a lone header and checks the key its prefix gives.
    void load_header(const std::string& header) {
        ASSERT_EQ(header.size(), size_t{kHeaderSize});
        ASSERT_EQ(load(header), kLoadOk);
        const DataFileKey want = key_of(header);
        EXPECT_EQ(ds.key.length, want.length);
        EXPECT_EQ(ds.key.file_key, want.file_key);
    }
    BasicSettings defaults() {
        BasicSettings s;
        set_default_settings(s, ds.user_folder.c_str());
        return s;
    }
};

TEST_F(StoreLoadHeaderTest, OlderVersionsGetDefaultsForMissingItems) {
    // The sample settings at each version an item appears with and the one
    // just before it, over random filler, filler 1 (a short non-empty string)
    // and filler equal to the key (a zero format word).
    const std::string images = image("old_versions.ref");
    const int versions[] = {100, 111, 112, 115, 116, 134, 135, 142, 149, 150, 151};
    for (int filler = 0; filler < 3; filler++) {
        for (size_t v = 0; v < std::size(versions); v++) {
            const int version = versions[v];
            SCOPED_TRACE("version " + std::to_string(version) + " filler " +
                         std::to_string(filler));
            load_header(piece(images, filler * std::size(versions) + v, kHeaderSize));
            BasicSettings want = sample_settings(ds.user_folder);
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
    // The option bytes are stored plain, one below the other after the port
    // and the four flags.
    const std::string header = piece(image("headers.ref"), 4, kHeaderSize);
    const int first_option = 793 - key_of(header).length;
    const int initial[kOptionWordCount] = {0, 0, 1, 1, 0, 0, 0, 0, 0, 1, 0, 0, 10, 80, 1, 0, 0, 0};
    enum { language_policy = 9, fixed_rows = 12, fixed_columns, fixed_uploads };
    struct Case {
        int option, stored, want; // want -1: the value of a new file
    } cases[] = {
        {fixed_rows, 0, 10},        {fixed_rows, 1, 1},
        {fixed_rows, 30, 30},       {fixed_rows, 31, 10},
        {fixed_columns, 0, 80},     {fixed_columns, 1, 1},
        {fixed_columns, 200, 200},  {fixed_columns, 201, 80},
        {fixed_uploads, 0, 1},      {fixed_uploads, 10, 10},
        {fixed_uploads, 11, 1},     {language_policy, 0, 1},
        {language_policy, 3, 3},    {language_policy, 0x7F, 0x7F},
        {fixed_columns, 0x80, 128},
    };
    std::vector<Case> all(std::begin(cases), std::end(cases));
    // Every option byte with its top bit set is no value.
    for (int i = 0; i < kOptionWordCount; i++) {
        if (i != fixed_columns) all.push_back({i, 0x80, -1});
        all.push_back({i, 0xFF, -1});
    }
    for (const Case& c : all) {
        SCOPED_TRACE("option " + std::to_string(c.option) + " = " + std::to_string(c.stored));
        std::string patched = header;
        patched[first_option - c.option] = static_cast<char>(c.stored);
        load_header(patched);
        BasicSettings want = sample_settings(ds.user_folder);
        want.*kOptionWords[c.option] = c.want < 0 ? initial[c.option] : c.want;
        EXPECT_EQ(settings_diff(ds.settings, want), "");
    }
}

TEST_F(StoreLoadHeaderTest, DamagedHeaders) {
    const std::string corrupt = "基本設定データが壊れています。再度設定してください。";
    // Everything from the damage on keeps the defaults of a new file.
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
    // In the order of damaged_headers.ref.
    struct Case {
        const char* name;
        std::function<void(BasicSettings&)> expect;
        bool reported;
    } cases[] = {
        {"smtp server of 79 characters",
         [](BasicSettings& w) { memset(w.smtp_server, 's', 79), w.smtp_server[79] = 0; }, false},
        {"smtp server length 80", smtp_on, true},
        {"pop3 server length 200", pop3_on, true},
        {"missing marker", top_page_on, false},
        {"format word 1", log_on, false},
        {"format word 0x100", log_on, false},
        {"over-long optional strings are skipped",
         [&](BasicSettings& w) {
             memcpy(w.top_page, def.top_page, sizeof w.top_page);
             w.admin_password[0] = 0;
             w.fixed_quotation[0] = 0;
         },
         false},
        {"negative log size", [](BasicSettings& w) { w.log_size_kb = -2; }, false},
    };
    const std::string images = image("damaged_headers.ref");
    for (size_t i = 0; i < std::size(cases); i++) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.name);
        messages.clear();
        load_header(piece(images, i, kHeaderSize));
        BasicSettings want = sample_settings(ds.user_folder);
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
