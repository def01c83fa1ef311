
#include <vector>

#include "charset_test_util.h"
#include "mail/charset/kana.h"
#include "mail/charset/sjis.h"
#include "mail/mail_golden.h"

using charset_test::Iconv;

namespace {

std::string utf8_of_sjis(Iconv& cv, std::uint16_t code) {
    const std::string in{static_cast<char>(code >> 8), static_cast<char>(code & 0xFF)};
    return cv(in).value_or("<rejected>");
}

} // namespace

TEST(CharsetKana, EveryRowIsTheMatchingFullWidthCharacter) {
    Iconv cv("SHIFT_JIS", "UTF-8");
    ASSERT_TRUE(cv.ok());
    const auto fullWidth = mail_golden::ReadCases(GOLDEN_PATH("kana_full_width.cases"));
    ASSERT_EQ(fullWidth.size(), 63u);
    for (int b = 0xA1; b <= 0xDF; ++b) {
        SCOPED_TRACE(b);
        const auto c = static_cast<unsigned char>(b);
        const std::uint16_t sjis = kana_to_sjis(c);
        EXPECT_EQ(utf8_of_sjis(cv, sjis), fullWidth[b - 0xA1].at(0));
        const std::uint16_t jis = kana_to_jis(c);
        EXPECT_EQ(jis_to_sjis(static_cast<unsigned char>(jis >> 8),
                              static_cast<unsigned char>(jis & 0xFF)),
                  sjis);
    }
}

// The display composes marks by adding 1 or 2 to the table code; the ranges
// that allow it must land on the right character and nothing else.
TEST(CharsetKana, SoundMarkArithmeticReachesTheCombinedForms) {
    Iconv cv("SHIFT_JIS", "UTF-8");
    ASSERT_TRUE(cv.ok());
    std::string voiced, semivoiced;
    for (int b = 0xA1; b <= 0xDF; ++b) {
        const auto c = static_cast<unsigned char>(b);
        if (takes_voiced_mark(c)) voiced += utf8_of_sjis(cv, kana_to_sjis(c) + 1);
        if (takes_semivoiced_mark(c)) semivoiced += utf8_of_sjis(cv, kana_to_sjis(c) + 2);
    }
    EXPECT_EQ(voiced, "ガギグゲゴザジズゼゾダヂヅデドバビブベボ");
    EXPECT_EQ(semivoiced, "パピプペポ");
}

TEST(CharsetKana, BytesOutsideTheRangeGiveTheFullWidthSpace) {
    for (int b : {0x00, 0x41, 0x80, 0xA0, 0xE0, 0xFF}) {
        EXPECT_EQ(kana_to_sjis(static_cast<unsigned char>(b)), 0x8140) << b;
        EXPECT_EQ(kana_to_jis(static_cast<unsigned char>(b)), 0x2121) << b;
    }
}
