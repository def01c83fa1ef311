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
        {" t@b.c ", "t@b.c"},
        {"t@b.c", "t@b.c"},
        {"<t@b.c>", "t@b.c"},
        {"x!t@b.c", "t@b.c"},
        {"Taro\t<t@b.c>\r\n", "t@b.c"},
        {"taro", "taro"},
        {"Taro <taro>", "taro"},
        {"", ""},
        // Ideographic space (second byte "@") and "表" (second byte "\") in the name.
        {"\x8e\x52\x93\x63\x81\x40\x91\xbe\x98\x59 <t@b.c>", "t@b.c"},
        {"\x95\x5c\x81\x40<t@b.c>", "t@b.c"},
        // Without a blank the name is part of the address; the pair stays whole.
        {"\x95\x5ct@b.c", "\x95\x5ct@b.c"},
    };
    for (const auto& c : cases) {
        char out[64];
        EXPECT_EQ(ExtractAddress(out, c.entry), std::strlen(c.address)) << c.entry;
        EXPECT_STREQ(out, c.address) << c.entry;
    }
}

TEST(ExtractAddressTest, BoundedWithoutCuttingPair) {
    char out[8];
    std::memset(out, '#', sizeof out);
    EXPECT_EQ(ExtractAddress(out, "<abcdefgh@b.c>", 5), 4u);
    EXPECT_STREQ(out, "abcd");
    EXPECT_EQ(out[5], '#');
    EXPECT_EQ(ExtractAddress(out, "ab\x95\x5c@b.c", 4), 2u);
    EXPECT_STREQ(out, "ab");
}

TEST(ValidAddressTest, Characters) {
    const struct {
        const char* address;
        bool valid;
    } cases[] = {
        {"", true},
        {"taro", true},
        {"t.yamada-1_x@mail.example.jp", true},
        {"t@host", false},
        {"t@.", true},
        {"t@b.c!", true}, // nothing after the "." is examined
        {"t!x@b.c", false},
        {"t x@b.c", false},
        {"t@b@c.d", true},
        {"t@b+c.d", false},
        {"\x95\x5c@b.c", false},
        {"ta ro", false},
    };
    for (const auto& c : cases) EXPECT_EQ(ValidAddress(c.address), c.valid) << c.address;
}

} // namespace
