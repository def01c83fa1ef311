// Proof over the whole 94 x 94 JIS X 0208 code space that the arithmetic
// conversions and the in-place converter agree byte for byte with glibc.
//
// Reference pair: EUC-JP -> SHIFT_JIS (and ISO-2022-JP -> SHIFT_JIS for the
// whole run). Both are plain JIS X 0208 on each side, so every one of the 6879
// characters iconv accepts must come out identical, with no exclusions (0x2140
// FULLWIDTH REVERSE SOLIDUS included: glibc maps it to 0x815F both ways).

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <string>
#include <vector>

#include "charset_test_util.h"
#include "mail/charset/detect.h"
#include "mail/charset/sjis.h"

using charset_test::heap_copy;
using charset_test::Iconv;

namespace {

struct Code {
    unsigned char j1, j2;
    std::string sjis; // what iconv produced
};

std::string euc_of(unsigned char j1, unsigned char j2) {
    return {static_cast<char>(j1 | 0x80), static_cast<char>(j2 | 0x80)};
}

std::string iso2022_of(unsigned char j1, unsigned char j2) {
    return std::string("\x1b$B") + static_cast<char>(j1) + static_cast<char>(j2) + "\x1b(B";
}

std::string sjis_bytes(std::uint16_t code) {
    return {static_cast<char>(code >> 8), static_cast<char>(code & 0xFF)};
}

// Every code of the table that iconv converts from `from` (EUC form) to `to`.
std::vector<Code> reference_table(const char* from, const char* to) {
    Iconv cv(from, to);
    EXPECT_TRUE(cv.ok()) << from << " -> " << to;
    std::vector<Code> table;
    if (!cv.ok()) return table;
    for (int j1 = 0x21; j1 <= 0x7E; ++j1) {
        for (int j2 = 0x21; j2 <= 0x7E; ++j2) {
            auto a = static_cast<unsigned char>(j1), b = static_cast<unsigned char>(j2);
            if (auto out = cv(euc_of(a, b))) table.push_back({a, b, *out});
        }
    }
    return table;
}

// Runs convert_to_sjis on an exactly-sized heap copy (len + 1 for the NUL).
std::string convert(const std::string& in, int mode) {
    auto buf = heap_copy(in, 1);
    const int n = convert_to_sjis(buf.get(), static_cast<int>(in.size()), mode);
    EXPECT_EQ(buf[n], '\0');
    return std::string(buf.get(), n);
}

} // namespace

TEST(CharsetJisTable, EveryCodeAgreesWithIconv) {
    const std::vector<Code> table = reference_table("EUC-JP", "SHIFT_JIS");
    // Guards against a reference that silently converts nothing.
    ASSERT_EQ(table.size(), 6879u);
    for (const Code& c : table) {
        SCOPED_TRACE(testing::Message() << std::hex << (c.j1 << 8 | c.j2));
        ASSERT_EQ(c.sjis.size(), 2u);
        const std::uint16_t s = jis_to_sjis(c.j1, c.j2);
        EXPECT_EQ(sjis_bytes(s), c.sjis);
        EXPECT_EQ(sjis_to_jis(static_cast<unsigned char>(s >> 8), static_cast<unsigned char>(s)),
                  (c.j1 << 8) | c.j2);

        // EUC-JP and escaped runs of every code are met in the run test
        // below. Alone, a character with a lead of 0xE0 or more reads as
        // Shift_JIS to the detector; a hiragana after it settles it as EUC-JP.
        EXPECT_EQ(convert(euc_of(c.j1, c.j2) + "\xA4\xA2", kCodeDetect), c.sjis + "\x82\xA0");
        // Each character in its own escapes: the mode switches in and out.
        EXPECT_EQ(convert(iso2022_of(c.j1, c.j2), kCodeDetect), c.sjis);
        EXPECT_EQ(convert(iso2022_of(c.j1, c.j2), kCodeEuc), c.sjis);
    }
}

// The whole table as one run, shifted by 0-7 leading characters, so that
// every code is met both inside the block-wise fast path and in the per-pair
// tail, at every position within a block.
TEST(CharsetJisTable, OneRunAtEveryAlignmentAgreesWithIconv) {
    const std::vector<Code> table = reference_table("EUC-JP", "SHIFT_JIS");
    Iconv iso_ref("ISO-2022-JP", "SHIFT_JIS");
    for (int shift = 0; shift < 8; ++shift) {
        SCOPED_TRACE(shift);
        std::string iso = "\x1b$B", euc, expected;
        for (int k = 0; k < shift; ++k) {
            iso += "$\"";
            euc += "\xA4\xA2";
            expected += "\x82\xA0";
        }
        for (const Code& c : table) {
            iso += static_cast<char>(c.j1);
            iso += static_cast<char>(c.j2);
            euc += euc_of(c.j1, c.j2);
            expected += c.sjis;
        }
        iso += "\x1b(B";
        ASSERT_EQ(iso_ref(iso), expected);
        EXPECT_EQ(detect_japanese_code(iso.data(), static_cast<int>(iso.size())), kCodeDetect);
        EXPECT_EQ(detect_japanese_code(euc.data(), static_cast<int>(euc.size())), kCodeEuc);
        EXPECT_EQ(convert(iso, kCodeDetect), expected);
        EXPECT_EQ(convert(euc, kCodeDetect), expected);
        EXPECT_EQ(convert(euc, kCodeEuc), expected);
        // Odd ASCII in front moves the EUC pairs off the block boundaries.
        EXPECT_EQ(convert("x" + euc, kCodeEuc), "x" + expected);
        auto dst = heap_copy("", euc.size() + 1);
        const int n = euc_to_sjis(dst.get(), euc.data(), static_cast<int>(euc.size()));
        EXPECT_EQ(std::string(dst.get(), n), expected);
    }
}

// CP932 as glibc has it also places the NEC symbols of row 13 by the same
// arithmetic. Two groups are left out because CP932 does not place them by
// the arithmetic at all, so no converter of this kind can match there:
//  - nine row-13 symbols (0x2D70-0x2D7C: ≒ ≡ ∫ √ ⊥ ∠ ∵ ∩ ∪) that duplicate
//    row-2 characters; CP932 encodes those characters at their row-2 codes;
//  - rows 0x75-0x7E, the user-defined area, which EUC-JP-MS maps to private
//    use characters that CP932 places at 0xF040-0xF9FC.
TEST(CharsetJisTable, Cp932RowsAgreeWithIconv) {
    const std::vector<Code> table = reference_table("EUC-JP-MS", "CP932");
    int compared = 0;
    for (const Code& c : table) {
        static constexpr unsigned char kDuplicates[] = {0x70, 0x71, 0x72, 0x75, 0x76,
                                                        0x77, 0x7A, 0x7B, 0x7C};
        const bool duplicate =
            c.j1 == 0x2D && std::find(std::begin(kDuplicates), std::end(kDuplicates), c.j2) !=
                                std::end(kDuplicates);
        if (duplicate || c.j1 >= 0x75) continue;
        SCOPED_TRACE(testing::Message() << std::hex << (c.j1 << 8 | c.j2));
        EXPECT_EQ(sjis_bytes(jis_to_sjis(c.j1, c.j2)), c.sjis);
        EXPECT_EQ(convert(euc_of(c.j1, c.j2), kCodeEuc), c.sjis);
        ++compared;
    }
    EXPECT_EQ(compared, 6879 + 74); // the JIS X 0208 set and the rest of row 13
}
