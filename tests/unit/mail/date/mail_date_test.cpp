#include "mail/date/mail_date.h"

#include <gtest/gtest.h>

#include <string>

#include "mail/date/time_zone.h"

namespace {

constexpr int kJapan = -540;
constexpr int kUtc = 0;
constexpr int kNewYork = 300;

TEST(MailDateTest, FormatsInLocalTime) {
    const struct {
        int bias;
        const char* value;
        const char* expected;
        int result;
    } cases[] = {
        {kJapan, "Tue, 03 Dec 2002 10:20:30 +0900", "2002/12/03 10:20:30", 1},
        {kJapan, "Tue, 03 Dec 2002 10:20:30 GMT", "2002/12/03 19:20:30", 1},
        {kJapan, "3 Dec 2002 10:20:30 -0500", "2002/12/04 00:20:30", 1},
        {kJapan, "Tue, 3 Dec 2002 10:20:30 -0530", "2002/12/04 00:50:30", 1},
        {kJapan, "Tue, 31 Dec 2002 20:00:00 -0500", "2003/01/01 10:00:00", 1},
        {kJapan, "Sun, 28 Feb 2100 23:30:00 +0000", "2100/03/01 08:30:00", 1},
        {kNewYork, "Wed, 01 Jan 2003 02:00:00 +0000", "2002/12/31 21:00:00", 1},
        // "JST" and a missing zone mean the gateway's own time, whatever it is.
        {kJapan, "Tue, 3 Dec 02 10:20:30 JST", "1902/12/03 10:20:30", 1},
        {kUtc, "Tue, 03 Dec 2002 10:20:30 jst", "2002/12/03 10:20:30", 1},
        {kJapan, "Tue, 03 Dec 2002 10:20 +0000", "2002/12/03 10:20:00", 1},
        {kJapan, "Tue, 3 Dec 2002", "2002/12/03 00:00:00", 1},
        // Layouts seen in the wild.
        {kJapan, "Tue, 03-Dec-2002 10:20:30 +0000", "2002/12/03 19:20:30", 1},
        {kJapan, "Tue, Dec 3 2002 10:20:30 +0900", "2002/12/03 10:20:30", 1},
        {kJapan, "  Tue,  3 Dec 2002  10:20:30 +0900 (JST)", "2002/12/03 10:20:30", 1},
        {kJapan, "Tuesdaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaay, 3 Dec 2002 10:20:30 +0900",
         "2002/12/03 10:20:30", 1},
        {kUtc, "Tue, 3 DEC 2002 10:20:30 +0000", "2002/01/03 10:20:30", 1},
        // A year that is not a number ends the reading before the time.
        {kJapan, "Tue, 03 Dec yyyy 10:20:30 +0000", "1900/12/03 00:00:00", 1},
        // Not a calendar date: shown as read.
        {kJapan, "", "1900/00/00 00:00:00", 0},
        {kJapan, "Mon, 31 Feb 2002 10:20:30 +0000", "2002/02/31 10:20:30", 0},
        // Absurd numbers saturate instead of overflowing.
        {kJapan, "Tue, 03 Dec 99999999999 10:20:30 +0000", "9999/12/03 10:20:30", 0},
        {kJapan, "Tue, 999 Dec 2002 123:4567:89012 +0000", "2002/12/99 99:99:99", 0},
        {kJapan, "Tue, 03 Dec 2002 10:20:30 +99999999999", "2002/12/03 10:20:30", 0},
        {kUtc, "Fri, 31 Dec 9999 23:00:00 -0200", "9999/12/31 23:00:00", 0},
    };
    for (const auto& c : cases) {
        set_time_zone_bias_for_test(c.bias);
        char out[kMailDateSize];
        EXPECT_EQ(format_mail_date(out, c.value), c.result) << c.value;
        EXPECT_EQ(std::string(out), c.expected) << c.value;
    }
    set_time_zone_bias_for_test(0);
}

TEST(MailDateTest, RefusesShortDestination) {
    char out[19] = "unchanged";
    EXPECT_EQ(format_mail_date(out, "Tue, 03 Dec 2002 10:20:30 +0900", sizeof out), -1);
    EXPECT_STREQ(out, "");
}

} // namespace
