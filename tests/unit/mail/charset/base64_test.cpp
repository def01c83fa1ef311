#include <gtest/gtest.h>

#include <random>
#include <string>

#include "charset_test_util.h"
#include "mail/charset/base64.h"

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
    const std::pair<std::string, std::string> cases[] = {
        {"", ""},
        {"a", "YQ=="},
        {"ab", "YWI="},
        {"abc", "YWJj"},
        {"foob", "Zm9vYg=="},
        {"foobar", "Zm9vYmFy"},
        {std::string("\xFF\xFE\x00", 3), "//4A"},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(encode(in), out);
    EXPECT_EQ(encode(std::string("\x1b$B$\"\x1b(B")), "GyRCJCIbKEI=");
}

TEST(CharsetBase64, DecodeRules) {
    const std::pair<std::string, std::string> cases[] = {
        {"", ""},
        {"Zm9vYmFy", "foobar"},
        {"YQ==", "a"},
        {"YWI=", "ab"},
        {"YQ==YWI=", "a"},          // stops at the first '='
        {"Zm9vYg", "foob"},         // missing padding
        {"Zm9vY", "foo"},           // a lone final character yields nothing
        {"Zm9v\r\nYmFy", "foobar"}, // characters outside the alphabet are skipped
        {"Z m9v\tY", "foo"},
        {"!!!!", ""},
        {"=Zm9v", ""},
        {"Zm9v\xFF\x80", "foo"},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(decode(in), out) << in;
}

TEST(CharsetBase64, RoundTripAllLengths) {
    std::mt19937 rng(2045);
    for (int len = 0; len < 200; ++len) {
        std::string in(static_cast<std::size_t>(len), '\0');
        for (char& c : in) c = static_cast<char>(rng());
        EXPECT_EQ(decode(encode(in)), in) << len;
    }
}
