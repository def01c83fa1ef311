#include <gtest/gtest.h>

#include <string>

#include "charset_test_util.h"
#include "mail/charset/quoted_printable.h"

using charset_test::heap_copy;

namespace {

std::string decode(const std::string& line) {
    auto src = heap_copy(line);
    auto dst = heap_copy("", line.size() + 3);
    const int n = qp_decode_line(dst.get(), src.get(), static_cast<int>(line.size()));
    EXPECT_EQ(dst[n], '\0');
    return std::string(dst.get(), n);
}

} // namespace

TEST(CharsetQuotedPrintable, DecodeLine) {
    const std::pair<std::string, std::string> cases[] = {
        {"a=3Db", "a=b\r\n"},
        {"soft=", "soft"},
        {"=", ""},
        {"", "\r\n"},
        {"x", "x\r\n"},
        {"=41", "A\r\n"},
        {"=e9=E9", "\xE9\xE9\r\n"}, // hex digits in either case
        {"abc=41=", "abcA"},
        {"=4", "=4\r\n"},     // too short for a code
        {"a=zz", "a=zz\r\n"}, // not hex: the '=' stays
        {"a=4g", "a=4g\r\n"},
        {"==41", "=A\r\n"},
        {"tab\there ", "tab\there \r\n"},
        {"\x82\xA0=82=A0", "\x82\xA0\x82\xA0\r\n"},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(decode(in), out) << in;
}

// A line cut at every length: no access outside the exact buffers.
TEST(CharsetQuotedPrintable, EveryPrefixStaysInBounds) {
    const std::string line = "caf=C3=A9 =3D=\xFF=4=zz=";
    for (std::size_t n = 0; n <= line.size(); ++n) {
        const std::string out = decode(line.substr(0, n));
        EXPECT_LE(out.size(), n + 2);
    }
}
