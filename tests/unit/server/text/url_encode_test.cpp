#include "server/text/url_encode.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(UrlEncodeTest, EscapesOutsideKeptRange) {
    const struct {
        const char* src;
        const char* encoded;
    } cases[] = {
        {"a b&c.txt", "a%20b%26c.txt"},
        {"*-._09AZaz", "*-._09AZaz"},
        {"+,/:;<=>?@[\\]^`", "%2B%2C%2F%3A%3B%3C%3D%3E%3F%40%5B%5C%5D%5E%60"},
        {"!\"#$%&'()", "%21%22%23%24%25%26%27%28%29"},
        {"{|}~\x7f", "%7B%7C%7D%7E%7F"},
        {"\t\r\n", "%09%0D%0A"},
        {"\x95\x5c.txt", "%95%5C.txt"}, // "表": both bytes escaped
        {"\x83\x41", "%83A"},           // a second byte in the kept range stays
        {"2002/12/03 10:20:30", "2002%2F12%2F03%2010%3A20%3A30"},
        {"", ""},
    };
    for (const auto& c : cases) {
        char out[64];
        EXPECT_EQ(UrlEncode(out, c.src), std::strlen(c.encoded)) << c.src;
        EXPECT_STREQ(out, c.encoded) << c.src;
    }
}

TEST(UrlEncodeTest, StopsBeforePieceThatDoesNotFit) {
    const struct {
        const char* src;
        size_t capacity;
        const char* encoded;
    } cases[] = {
        {"ab cd", 5, "ab"},                                 // "%20" needs three more bytes
        {"ab cd", 6, "ab%20"},       {"a\x95\x5c", 6, "a"}, // the pair's six bytes go together
        {"a\x95\x5c", 8, "a%95%5C"}, {"abc", 1, ""},
    };
    for (const auto& c : cases) {
        char out[16];
        std::memset(out, '#', sizeof out);
        EXPECT_EQ(UrlEncode(out, c.src, c.capacity), std::strlen(c.encoded)) << c.src;
        EXPECT_STREQ(out, c.encoded) << c.src;
        EXPECT_EQ(out[c.capacity], '#') << c.src;
    }
}

TEST(HexPairTest, ReadsTwoHexDigits) {
    EXPECT_EQ(HexPair("41"), 0x41);
    EXPECT_EQ(HexPair("fF"), 0xFF);
    EXPECT_EQ(HexPair("0a rest"), 0x0A);
    EXPECT_EQ(HexPair("G0"), -1);
    EXPECT_EQ(HexPair("0g"), -1);
    EXPECT_EQ(HexPair("4"), -1);
    EXPECT_EQ(HexPair(""), -1);
}

} // namespace
