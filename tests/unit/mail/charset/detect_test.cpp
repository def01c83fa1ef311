#include <gtest/gtest.h>

#include <string>

#include "charset_test_util.h"
#include "mail/charset/detect.h"
#include "mail/charset/sjis.h"
#include "mail/mail_golden.h"

using charset_test::heap_copy;

namespace {

std::string convert(const std::string& in, int mode) {
    auto buf = heap_copy(in, 1);
    const int n = convert_to_sjis(buf.get(), static_cast<int>(in.size()), mode);
    EXPECT_LE(n, static_cast<int>(in.size()));
    EXPECT_EQ(buf[n], '\0');
    return std::string(buf.get(), n);
}

int detect(const std::string& s) {
    auto buf = heap_copy(s); // no NUL: only the given length may be read
    return detect_japanese_code(buf.get(), static_cast<int>(s.size()));
}

std::string sjis(unsigned char j1, unsigned char j2) {
    const std::uint16_t s = jis_to_sjis(j1, j2);
    return {static_cast<char>(s >> 8), static_cast<char>(s & 0xFF)};
}

} // namespace

TEST(CharsetDetect, Codes) {
    for (const auto& t : mail_golden::ReadCases(MAIL_GOLDEN("detect_codes.ref")))
        EXPECT_EQ(detect(t.at(0)), std::stoi(t.at(1))) << t[0];
    EXPECT_EQ(detect_japanese_code(nullptr, 10), 0);
    // Only the given length counts.
    EXPECT_EQ(detect_japanese_code("\x82\xA0", 1), 0);
    EXPECT_EQ(detect_japanese_code("ab\x82\xA0", 2), 0);
}

TEST(CharsetDetect, LongAsciiPrefixDoesNotHideTheCode) {
    const std::string ascii(1000, 'a');
    EXPECT_EQ(detect(ascii + "\x82\xA0"), 1);
    EXPECT_EQ(detect(ascii + "\xA4\xA2"), 2);
    EXPECT_EQ(detect(std::string(7, 'a') + "\xA4\xA2" + ascii), 2);
}

TEST(CharsetConvertToSjis, Cases) {
    const std::string a = sjis(0x24, 0x22); // あ
    const std::string i = sjis(0x24, 0x24); // い
    struct Case {
        std::string in;
        int mode;
        std::string out;
    };
    const Case cases[] = {
        {"", 0, ""},
        {"plain", 0, "plain"},
        {"\x1b$B$\"\x1b(B", 0, a},
        {"\x1b$@$\"\x1b(J!", 0, a + "!"},
        {"x\x1b$B$\"$$\x1b(By", 0, "x" + a + i + "y"},
        {"\x1b$B$\"\x1b$B$$", 0, a + i}, // repeated shift, no return to ASCII
        {"\x1b(I12\x1b(B3", 0,
         "\xB1\xB2"
         "3"},
        {"\x1b(I\x1b$B$\"", 0, a},
        {"\x1bxy\x1b", 0, "\x1bxy\x1b"}, // unknown and lone escapes stay
        {"a\x1b$", 0, "a\x1b$"},         // escape cut by the end of the text
        {"a\x1b(", 0, "a\x1b("},
        {"\x1b$B$", 0, "$"},                        // odd byte left in two-byte mode
        {"\x1b$B$\"\r\n", 0, a + sjis(0x0D, 0x0A)}, // CR LF are not special inside
        {"\x1b$B\x1b(", 0, sjis(0x1B, '(')},        // only two bytes left: no escape
        {"\xA4\xA2x\xA4\xA4", 2, a + "x" + i},
        {"\xA4\xA2\xA4", 2, a + "\xA4"},
        {"\xA4\xA2\xA4\xA4", 0, a + i},
        {"\xA4\xA2\xA4\xA4", 1, "\xA4\xA2\xA4\xA4"},
        {"\x82\xA0", 0, "\x82\xA0"},
        {"\x8E\xB1", 2, "\x8E\xB1"},                         // single shifts are not read
        {"\xA4\xA2\x1b$B$$\x1b(B\xA4\xA4", 2, a + i + i},    // both forms in one text
        {"\x1b(I\xA4\xA2", 2, a},                            // EUC pair wins over katakana
        {std::string("a\0b", 3), 0, std::string("a\0b", 3)}, // NUL is just a byte
    };
    for (const Case& c : cases) {
        EXPECT_EQ(convert(c.in, c.mode), c.out) << "mode " << c.mode << " in " << c.in;
    }
}

// Every prefix of a mixed text, in every mode: nothing read or written
// outside the exact buffer (checked under AddressSanitizer), never longer.
TEST(CharsetConvertToSjis, EveryPrefixStaysInBounds) {
    const std::string text =
        "Re: \x1b$B$\"$$\x1b(B and \x1b(I12\x1b(J, \xA4\xA2\xA4\xA4 \x82\xA0 \x1b$@0!\x1b(B end";
    for (int mode = 0; mode <= 2; ++mode) {
        for (std::size_t n = 0; n <= text.size(); ++n) convert(text.substr(0, n), mode);
    }
}

TEST(CharsetEucToSjis, PairsConvertOtherBytesCopy) {
    struct Case {
        std::string in;
        std::string out;
    };
    const Case cases[] = {
        {"", ""},
        {"abc", "abc"},
        {"\xA4\xA2x\xA4", sjis(0x24, 0x22) + "x\xA4"},
        {"\x8E\xB1\xA4\xA2", "\x8E" + sjis(0x31, 0x24) + "\xA2"}, // pairs are taken as they come
        {"\xFE\xFE", sjis(0x7E, 0x7E)},
        {"\xA0\xA1", "\xA0\xA1"},
    };
    for (const Case& c : cases) {
        auto src = heap_copy(c.in);
        auto dst = heap_copy("", c.in.size() + 1);
        const int n = euc_to_sjis(dst.get(), src.get(), static_cast<int>(c.in.size()));
        EXPECT_EQ(std::string(dst.get(), n), c.out);
        EXPECT_EQ(dst[n], '\0');
    }
}
