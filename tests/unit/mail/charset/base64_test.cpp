#include <gtest/gtest.h>

#include <string>

#include "charset_test_util.h"
#include "mail/charset/base64.h"
#include "mail/mail_golden.h"

using charset_test::heap_copy;

namespace {

std::string encode(const std::string& in) {
    auto src = heap_copy(in);
    const int size = base64_encoded_size(static_cast<int>(in.size()));
    auto dst = heap_copy("", static_cast<std::size_t>(size));
    const int n = base64_encode(dst.get(), src.get(), static_cast<int>(in.size()));
    EXPECT_EQ(n, size);
    return std::string(dst.get(), n);
}

std::string decode(const std::string& in) {
    auto src = heap_copy(in);
    const int size = base64_decoded_max(static_cast<int>(in.size()));
    auto dst = heap_copy("", static_cast<std::size_t>(size));
    const int n = base64_decode(dst.get(), src.get(), static_cast<int>(in.size()));
    EXPECT_LE(n, size);
    return std::string(dst.get(), n);
}

} // namespace

TEST(CharsetBase64, EncodeVectors) {
    for (const auto& t : mail_golden::ReadCases(GOLDEN_PATH("base64_encode.ref")))
        EXPECT_EQ(encode(t.at(0)), t.at(1)) << t[0];
    EXPECT_EQ(encode(std::string("\x1b$B$\"\x1b(B")), "GyRCJCIbKEI=");
}

TEST(CharsetBase64, DecodeRules) {
    for (const auto& t : mail_golden::ReadCases(GOLDEN_PATH("base64_decode.ref")))
        EXPECT_EQ(decode(t.at(0)), t.at(1)) << t[0];
}
