#include "server/text/url_encode.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(UrlEncodeTest, EscapesOutsideKeptRange) {
    const struct {
        const char* src;
        size_t capacity;
        const char* encoded;
    } cases[] = {
        {"a b&c.txt", 64, "a%20b%26c.txt"},
        {"*-._09AZaz", 64, "*-._09AZaz"},
        {"+,/:;<=>?@[\\]^`", 64, "%2B%2C%2F%3A%3B%3C%3D%3E%3F%40%5B%5C%5D%5E%60"},
        {")\t{~\x7f", 64, "%29%09%7B%7E%7F"},
        {"\x95\x5c.txt", 64, "%95%5C.txt"}, // every byte of a Shift_JIS pair
        {"\x83\x41", 64, "%83A"},
        {"ab cd", 5, "ab"}, // "%20" does not fit
        {"ab cd", 6, "ab%20"},
        {"a\x95\x5c", 6, "a"}, // the pair's six bytes go together
    };
    for (const auto& c : cases) {
        char out[80];
        std::memset(out, '#', sizeof out);
        EXPECT_EQ(UrlEncode(out, c.src, c.capacity), std::strlen(c.encoded)) << c.src;
        EXPECT_STREQ(out, c.encoded) << c.src;
        EXPECT_EQ(out[c.capacity], '#') << c.src;
    }
}

} // namespace
