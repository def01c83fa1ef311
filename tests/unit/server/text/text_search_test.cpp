#include "server/text/text_search.h"

#include <gtest/gtest.h>

#include <climits>

#include "server/text/char_class.h"

namespace {

TEST(PrefixEqualTest, ComparesFirstBytes) {
    const struct {
        const char* a;
        const char* b;
        int n;
        int no_case;
        int exact;
    } cases[] = {
        {"Content-Type: x", "content-type", 12, 0, 1},
        {"abc", "abd", 2, 0, 0},
        {"ab", "ab", 3, 1, 1}, // both end before n
        {"abc", "abc", 0, 1, 1},
        {"[x", "{x", 2, 1, 1}, // only letters fold
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PrefixEqualNoCase(c.a, c.b, c.n), c.no_case) << c.a << " " << c.n;
        EXPECT_EQ(PrefixEqual(c.a, c.b, c.n), c.exact) << c.a << " " << c.n;
    }
}

TEST(ParseIntTest, ValuesAndEnds) {
    const struct {
        const char* text;
        int value;
        int end; // offset of *end
    } cases[] = {
        {"  \t-17;x", -17, 6},
        {"007 ", 7, 3},
        {"  x", 0, 0},
        {"- 5", 0, 0},
        {"+5", 0, 0},
        {"2147483648", INT_MAX, 10},
        {"-2147483648", INT_MIN, 11},
        {"99999999999999999999999999999999x", INT_MAX, 32},
        {"-99999999999999999999999999999999", INT_MIN, 33},
    };
    for (const auto& c : cases) {
        const char* end = nullptr;
        EXPECT_EQ(ParseInt(c.text, &end), c.value) << c.text;
        EXPECT_EQ(end - c.text, c.end) << c.text;
    }
}

TEST(CharClassTest, LinkChars) {
    for (const char* s = "aZ09/.-_@~:?#=&%,"; *s; ++s) EXPECT_TRUE(IsLinkChar(*s)) << *s;
    for (const char* s = " \"<>()\\;*+\x81\xe0"; *s; ++s) EXPECT_FALSE(IsLinkChar(*s)) << *s;
}

} // namespace
