#include "server/text/address.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(ExtractAddressTest, BareAddressOfEntry) {
    const struct {
        const char* entry;
        const char* address;
    } cases[] = {
        {"Taro <t@b.c>", "t@b.c"},
        {"t@b.c (Taro)", "t@b.c"},
        {"\"Yamada, Taro\" <t@b.c>", "t@b.c"},
        {"x!t@b.c\r\n", "t@b.c"},
        {" taro", "taro"},
        {"Taro <taro>", "taro"},
        // Names with an ideographic space (second byte "@") and "hyo" (second byte "\").
        {"\x8e\x52\x93\x63\x81\x40\x91\xbe\x98\x59 <t@b.c>", "t@b.c"},
        {"\x95\x5c\x81\x40<t@b.c>", "t@b.c"},
    };
    for (const auto& c : cases) {
        char out[64];
        EXPECT_EQ(ExtractAddress(out, c.entry), std::strlen(c.address)) << c.entry;
        EXPECT_STREQ(out, c.address) << c.entry;
    }
    char out[8];
    std::memset(out, '#', sizeof out);
    EXPECT_EQ(ExtractAddress(out, "ab\x95\x5c@b.c", 4), 2u); // the pair is not cut
    EXPECT_STREQ(out, "ab");
    EXPECT_EQ(out[4], '#');
}

TEST(ValidAddressTest, Characters) {
    const struct {
        const char* address;
        bool valid;
    } cases[] = {
        {"", true},         {"taro", true},          {"t.yamada-1_x@mail.example.jp", true},
        {"t@host", false},  {"t@b.c!", true}, // nothing after the "." is examined
        {"t x@b.c", false}, {"\x95\x5c@b.c", false},
    };
    for (const auto& c : cases) EXPECT_EQ(ValidAddress(c.address), c.valid) << c.address;
}

} // namespace
