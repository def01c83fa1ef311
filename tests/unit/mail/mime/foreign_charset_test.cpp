#include "mail/charset/foreign_charset.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "base/console_text.h"

namespace {

std::string Sjis(const char* utf8) {
    std::string out;
    EXPECT_TRUE(utf8_to_sjis(utf8, out)) << utf8;
    return out;
}

std::string Convert(const char* charset, const std::string& in, ForeignMode mode,
                    size_t cap = 256) {
    std::string out(cap + 1, 'Z');
    const int n = convert_foreign_to_sjis(charset, in.data(), in.size(), out.data(), cap, mode);
    if (n < 0) return "(none)";
    EXPECT_EQ(out[n], '\0');
    EXPECT_EQ(out[cap], 'Z'); // nothing past the capacity
    return out.substr(0, n);
}

TEST(ForeignCharset, WhichLabelsAreConverted) {
    for (const char* label : {"UTF-8", "utf8", "ISO-8859-1", "iso-8859-15", "Windows-1252",
                              "GB2312", "big5", "EUC-KR", "ks_c_5601-1987", "koi8-r"}) {
        EXPECT_TRUE(is_foreign_charset(label)) << label;
    }
    for (const char* label : {"ISO-2022-JP", "iso-2022-jp-2", "Shift_JIS", "EUC-JP", "euc-jp-ms",
                              "CP932", "us-ascii", "", "x-unknown", "UTF-8//IGNORE", "../utf-8"}) {
        EXPECT_FALSE(is_foreign_charset(label)) << label;
    }
    EXPECT_FALSE(is_foreign_charset(nullptr));
}

TEST(ForeignCharset, ConvertsOrMarksEveryCharacter) {
    const struct {
        const char* charset;
        std::string in;
        ForeignMode mode;
        std::string out;
    } cases[] = {
        {"UTF-8", "日本語 ok", ForeignMode::Ncr, Sjis("日本語 ok")},
        {"UTF-8", "\xF0\x9F\x98\x80!", ForeignMode::Ncr, "&#128512;!"},
        {"UTF-8", "\xF0\x9F\x98\x80!", ForeignMode::Geta, "\x81\xAC!"},
        {"UTF-8", "\xE3\x80\x9C", ForeignMode::Ncr, Sjis("〜")}, // WAVE DASH
        {"UTF-8",
         "a\xFF"
         "b\xE6\x97",
         ForeignMode::Ncr, "a&#65533;b&#65533;"},
        {"UTF-8",
         "a\xFF"
         "b",
         ForeignMode::Geta, "a?b"},
        {"UTF-8", std::string("a\0b", 3), ForeignMode::Ncr, "ab"},
        {"iso-8859-1", "caf\xE9", ForeignMode::Ncr, "caf&#233;"},
        {"GB2312", "\xD6\xD0\xCE\xC4", ForeignMode::Ncr, Sjis("中文")},
        {"big5", "\xA4\xA4", ForeignMode::Ncr, Sjis("中")},
        {"EUC-KR", "\xC7\xD1", ForeignMode::Ncr, "&#54620;"},
        {"EUC-JP", "x", ForeignMode::Ncr, "(none)"},
    };
    for (const auto& t : cases) EXPECT_EQ(Convert(t.charset, t.in, t.mode), t.out) << t.in;
}

TEST(ForeignCharset, NeverSplitsACharacterAtTheBound) {
    const std::string text = "\xE6\x97\xA5\xF0\x9F\x98\x80z"; // 日, emoji, z
    EXPECT_EQ(Convert("UTF-8", text, ForeignMode::Ncr, 2), "");
    EXPECT_EQ(Convert("UTF-8", text, ForeignMode::Ncr, 11), Sjis("日"));
    EXPECT_EQ(Convert("UTF-8", text, ForeignMode::Ncr, 12), Sjis("日") + "&#128512;");
    EXPECT_EQ(Convert("UTF-8", text, ForeignMode::Geta, 5), Sjis("日") + "\x81\xAC");
}

TEST(ForeignCharset, ReferencesTheFilterMayPass) {
    const struct {
        const char* s;
        int length;
    } cases[] = {{"&#128512;x", 9}, {"&#233;", 6},     {"&#1114111;", 10}, {"&#60;", 0},
                 {"&#1114112;", 0}, {"&#0233;", 0},    {"&#233", 0},       {"&amp;", 0},
                 {"&#;", 0},        {"&#12345678;", 0}};
    for (const auto& t : cases) EXPECT_EQ(foreign_ncr_length(t.s), t.length) << t.s;
}

} // namespace
