// The small text codecs and helpers, each on its case table: base64,
// quoted-printable, UTF-8 references, header text and Shift_JIS text.

#include "charset_test_util.h"
#include "mail/charset/base64.h"
#include "mail/charset/header_text.h"
#include "mail/charset/quoted_printable.h"
#include "mail/charset/sjis.h"
#include "mail/charset/utf8_text.h"
#include "mail/mail_golden.h"

using charset_test::heap_copy;
using charset_test::heap_cstr;

namespace {

std::string base64_of(const std::string& in) {
    auto src = heap_copy(in);
    const int size = base64_encoded_size(static_cast<int>(in.size()));
    auto dst = heap_copy("", static_cast<std::size_t>(size));
    const int n = base64_encode(dst.get(), src.get(), static_cast<int>(in.size()));
    EXPECT_EQ(n, size);
    return std::string(dst.get(), n);
}

std::string from_base64(const std::string& in) {
    auto src = heap_copy(in);
    const int size = base64_decoded_max(static_cast<int>(in.size()));
    auto dst = heap_copy("", static_cast<std::size_t>(size));
    const int n = base64_decode(dst.get(), src.get(), static_cast<int>(in.size()));
    EXPECT_LE(n, size);
    return std::string(dst.get(), n);
}

std::string from_quoted_printable(const std::string& line) {
    auto src = heap_copy(line);
    auto dst = heap_copy("", line.size() + 3);
    const int n = qp_decode_line(dst.get(), src.get(), static_cast<int>(line.size()));
    EXPECT_EQ(dst[n], '\0');
    return std::string(dst.get(), n);
}

std::string copy(const std::string& src, int size) {
    auto s = heap_cstr(src);
    auto d = heap_copy("", static_cast<std::size_t>(size));
    const int n = copy_header_text(d.get(), s.get(), size);
    EXPECT_EQ(n, static_cast<int>(std::strlen(d.get())));
    EXPECT_LT(n, size);
    return d.get();
}

} // namespace

TEST(CharsetBase64, EncodeVectors) {
    for (const auto& t : mail_golden::ReadCases(GOLDEN_PATH("base64_encode.ref")))
        EXPECT_EQ(base64_of(t.at(0)), t.at(1)) << t[0];
    EXPECT_EQ(base64_of(std::string("\x1b$B$\"\x1b(B")), "GyRCJCIbKEI=");
}

TEST(CharsetBase64, DecodeRules) {
    for (const auto& t : mail_golden::ReadCases(GOLDEN_PATH("base64_decode.ref")))
        EXPECT_EQ(from_base64(t.at(0)), t.at(1)) << t[0];
}

TEST(CharsetQuotedPrintable, DecodeLine) {
    for (const auto& t : mail_golden::ReadCases(GOLDEN_PATH("quoted_printable.ref")))
        EXPECT_EQ(from_quoted_printable(t.at(0)), t.at(1)) << t[0];
}

TEST(Utf8Text, OnlyWellFormedReferencesAreCharacters) {
    for (const auto& t : mail_golden::ReadCases(GOLDEN_PATH("utf8_text.ref")))
        EXPECT_EQ(sjis_to_utf8(t.at(0).c_str(), t[0].size()), t.at(1)) << t[0];
    EXPECT_TRUE(has_character_references("x &#233;"));
    EXPECT_FALSE(has_character_references("x &#233"));
    EXPECT_FALSE(has_character_references("\x89\xef &amp;"));
}

TEST(CharsetCopyHeaderText, WidensKatakanaAndComposesMarks) {
    for (const auto& t : mail_golden::ReadCases(GOLDEN_PATH("header_text.ref")))
        EXPECT_EQ(copy(t.at(0), std::stoi(t.at(1))), t.at(2)) << t[0] << " " << t[1];
    char fixed[5];
    EXPECT_EQ(copy_header_text(fixed, "\xB1\xB2\xB3"), 4);
    EXPECT_EQ(copy_header_text(fixed, nullptr), 0);
}

// Widening must respect the room at every size, including a mark that would
// be composed with a character that no longer fits.
TEST(CharsetCopyHeaderText, EverySizeStaysInBounds) {
    const std::string src = "x\xB6\xDE\x82\xA0\x0E\x36\x5E\x0F\xCA\xDF\xB3\xDE.";
    const std::string full = copy(src, 64);
    for (int size = 1; size <= 64; ++size) {
        const std::string part = copy(src, size);
        EXPECT_EQ(full.compare(0, part.size(), part), 0) << size;
    }
}

TEST(CharsetSjis, LeadBytesAndShiftJisText) {
    for (const auto& t : mail_golden::ReadCases(GOLDEN_PATH("sjis_marks.cases"))) {
        EXPECT_EQ(is_sjis_lead(static_cast<unsigned char>(t.at(0)[0])), t.at(1) == "1") << t[0];
        if (t.size() > 2) {
            EXPECT_EQ(has_sjis(t[0].c_str()), std::stoi(t[2])) << t[0];
        }
    }
    EXPECT_TRUE(is_sjis_lead('\x81')); // plain char, negative here
    EXPECT_EQ(has_sjis(nullptr), 0);
}

TEST(CharsetSjis, FindSkipsTrailBytes) {
    EXPECT_EQ(sjis_find(nullptr, 'a'), -1);
    for (const auto& t : mail_golden::ReadCases(GOLDEN_PATH("sjis_find.ref")))
        EXPECT_EQ(sjis_find(t.at(0).c_str(), t.at(1)[0]), std::stoi(t.at(2))) << t[0];
}

TEST(CharsetSjis, CopyNeverSplitsACharacter) {
    for (const auto& t : mail_golden::ReadCases(GOLDEN_PATH("sjis_copy.ref"))) {
        const int size = std::stoi(t.at(1));
        auto dst = heap_copy("", static_cast<std::size_t>(size));
        EXPECT_EQ(sjis_copy(dst.get(), t.at(0).c_str(), size), static_cast<int>(t.at(2).size()));
        EXPECT_EQ(dst.get(), t.at(2)) << t[0] << " " << size;
    }
    auto dst = heap_copy("", 4);
    EXPECT_EQ(sjis_copy(dst.get(), nullptr, 4), 0);
    EXPECT_STREQ(dst.get(), "");
    char small[4];
    EXPECT_EQ(sjis_copy(small, "\x82\xA0\x82\xA2"), 2);
    EXPECT_EQ(sjis_copy(small, heap_cstr("xyz").get()), 3);
    EXPECT_EQ(sjis_copy(small, "a", 0), 0);
}
