#include <gtest/gtest.h>

#include <string>

#include "charset_test_util.h"
#include "mail/charset/sjis.h"

using charset_test::heap_copy;
using charset_test::heap_cstr;

TEST(CharsetSjis, LeadByteBoundaries) {
    for (int b : {0x81, 0x9F, 0xE0, 0xFC}) EXPECT_TRUE(is_sjis_lead(static_cast<unsigned char>(b)));
    for (int b : {0x40, 0x80, 0xA0, 0xB1, 0xDF, 0xFD}) {
        EXPECT_FALSE(is_sjis_lead(static_cast<unsigned char>(b)));
    }
    EXPECT_TRUE(is_sjis_lead('\x81')); // plain char, negative here
}

TEST(CharsetSjis, HasSjis) {
    EXPECT_EQ(has_sjis(nullptr), 0);
    EXPECT_EQ(has_sjis(""), 0);
    EXPECT_EQ(has_sjis("plain ascii"), 0);
    EXPECT_EQ(has_sjis("\xB1\xB2"), 0); // half-width katakana only
    EXPECT_EQ(has_sjis("abc\x82\xA0"), 1);
    EXPECT_EQ(has_sjis("\xFC"), 1);
}

TEST(CharsetSjis, FindSkipsTrailBytes) {
    struct Case {
        const char* text;
        char byte;
        int index;
    };
    const Case cases[] = {
        {nullptr, 'a', -1},
        {"", 'a', -1},
        {"abc", 'c', 2},
        {"abc", 'x', -1},
        {"abc", '\0', -1},
        {"\x83\x5C\\", '\\', 2}, // ソ ends in 0x5C; the real backslash follows
        {"\x83\x5C", '\\', -1},
        {"\x82\x81\x81", '\x81', 2}, // a trail equal to a lead byte
        {"\x82\xA0", '\x82', 0},
        {"a\x82", '\x82', 1}, // a lone lead at the end is still found
    };
    for (const Case& c : cases) {
        EXPECT_EQ(sjis_find(c.text, c.byte), c.index) << (c.text ? c.text : "(null)");
    }
}

TEST(CharsetSjis, CopyNeverSplitsACharacter) {
    struct Case {
        const char* src;
        int size;
        const char* expected;
    };
    const Case cases[] = {
        {"abc", 10, "abc"},
        {"abc", 3, "ab"},
        {"abc", 1, ""},
        {"a\x82\xA0", 3, "a"}, // the lead would be the last byte copied
        {"a\x82\xA0", 4, "a\x82\xA0"},
        {"\x82\xA0\x82\xA2", 4, "\x82\xA0"},
        {"\x82\x81\x81x", 4, "\x82\x81"}, // trail 0x81 is not taken for a lead
        {"\x82\x81\x81\x81", 5, "\x82\x81\x81\x81"},
        {"ab\x82", 10, "ab"}, // a lead right before the NUL
        {nullptr, 4, ""},
    };
    for (const Case& c : cases) {
        auto dst = heap_copy("", static_cast<std::size_t>(c.size));
        const int n = sjis_copy(dst.get(), c.src, c.size);
        EXPECT_STREQ(dst.get(), c.expected) << c.size;
        EXPECT_EQ(n, static_cast<int>(std::strlen(c.expected)));
    }
    char small[4];
    EXPECT_EQ(sjis_copy(small, "\x82\xA0\x82\xA2"), 2);
    EXPECT_EQ(sjis_copy(small, heap_cstr("xyz").get()), 3);
    EXPECT_EQ(sjis_copy(small, "a", 0), 0);
}
