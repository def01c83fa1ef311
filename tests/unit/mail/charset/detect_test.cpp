

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

} // namespace

TEST(CharsetDetect, Codes) {
    for (const auto& t : mail_golden::ReadCases(GOLDEN_PATH("detect_codes.ref")))
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
    for (const auto& t : mail_golden::ReadCases(GOLDEN_PATH("convert_to_sjis.cases")))
        EXPECT_EQ(convert(t.at(0), std::stoi(t.at(1))), t.at(2))
            << "mode " << t[1] << " in " << t[0];
}

TEST(CharsetEucToSjis, PairsConvertOtherBytesCopy) {
    for (const auto& t : mail_golden::ReadCases(GOLDEN_PATH("euc_to_sjis.cases"))) {
        auto src = heap_copy(t.at(0));
        auto dst = heap_copy("", t[0].size() + 1);
        const int n = euc_to_sjis(dst.get(), src.get(), static_cast<int>(t[0].size()));
        EXPECT_EQ(std::string(dst.get(), n), t.at(1)) << t[0];
        EXPECT_EQ(dst[n], '\0');
    }
}
