#include "mail/date/response_date.h"

#include <gtest/gtest.h>

#include "mail/date/time_zone.h"

namespace {

TEST(ResponseDateTest, WritesGmtWithUnpaddedDay) {
    const struct {
        time_t utc;
        const char* expected;
    } cases[] = {
        {1796389509, "Fri, 4 Dec 2026 13:05:09 GMT"},
        {0, "Thu, 1 Jan 1970 00:00:00 GMT"},
        {951868799, "Tue, 29 Feb 2000 23:59:59 GMT"},
        {1038910830, "Tue, 3 Dec 2002 10:20:30 GMT"},
    };
    // The gateway's own zone must not leak into HTTP dates.
    set_time_zone_bias_for_test(-540);
    for (const auto& c : cases) {
        char out[kResponseDateSize];
        EXPECT_EQ(response_date(out, c.utc), static_cast<int>(strlen(c.expected)));
        EXPECT_STREQ(out, c.expected);
    }
    set_time_zone_bias_for_test(0);
}

TEST(ResponseDateTest, RefusesShortDestination) {
    char out[28] = "x"; // one short of "Fri, 4 Dec 2026 13:05:09 GMT"
    EXPECT_EQ(response_date(out, 1796389509), -1);
    EXPECT_STREQ(out, "");
}

} // namespace
