#include "server/text/blanks.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(BlanksTest, NbspForFlaggedBrowsers) {
    const struct {
        unsigned flags;
        int n;
        size_t capacity;
        const char* expected;
    } cases[] = {
        {0x21, 2, 16, "  "},
        {0x02, 2, 16, "&nbsp;&nbsp;"},
        {0x40, 2, 12, "&nbsp;"}, // the second copy does not fit
        {0x00, 9, 4, "   "},
    };
    for (const auto& c : cases) {
        char out[24];
        std::memset(out, '#', sizeof out);
        EXPECT_EQ(Blanks(out, c.flags, c.n, c.capacity), std::strlen(c.expected));
        EXPECT_STREQ(out, c.expected);
        EXPECT_EQ(out[c.capacity], '#');
    }
}

} // namespace
