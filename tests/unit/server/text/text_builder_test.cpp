#include "server/text/text_builder.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <string>

TEST(TextBuilderTest, NumbersAsPrintfWritesThem) {
    const struct {
        long value;
        int width;
        char pad;
        const char* format;
    } cases[] = {{7, 4, '0', "%04ld"},         {12345, 4, '0', "%04ld"},
                 {0, 0, ' ', "%ld"},           {-42, 6, ' ', "%6ld"},
                 {-42, 6, '0', "%06ld"},       {2147483647L, 6, ' ', "%6ld"},
                 {-2147483648L, 0, ' ', "%ld"}};
    for (const auto& t : cases) {
        char expected[32];
        snprintf(expected, sizeof expected, t.format, t.value);
        TextBuilder<32> b;
        b.Number(t.value, t.width, t.pad);
        EXPECT_STREQ(b.c_str(), expected) << t.value;
    }
}

// A cut keeps whole characters and drops all that follows, so a later short
// piece cannot stand where a longer one was cut.
TEST(TextBuilderTest, ACutNeverSplitsAPairAndEndsTheText) {
    TextBuilder<6> b;
    b.Add("ab").Add("\x82\xa0\x82\xa2").Add("c");
    EXPECT_STREQ(b.c_str(), "ab\x82\xa0");
    EXPECT_EQ(b.size(), 4u);

    char field[8] = {'x', 'y', '\0', 'z', 'z', 'z', 'z', 'z'};
    TextBuilder<16> whole;
    whole.Add(field).Add('!');
    EXPECT_STREQ(whole.c_str(), "xy!");
    char unterminated[3] = {'p', 'q', 'r'};
    TextBuilder<16> bounded;
    bounded.Add(unterminated);
    EXPECT_STREQ(bounded.c_str(), "pqr");
}
