#include "mail/date/mail_date.h"

#include <gtest/gtest.h>

#include <string>

#include "mail/date/time_zone.h"

namespace {

constexpr int kJapan = -540;
constexpr int kUtc = 0;
constexpr int kNewYork = 300;
constexpr int kIndia = -330;
constexpr int kStJohns = 210;
constexpr int kChatham = -765;

struct MailDateCase {
    int bias;
    const char* value;
    const char* expected;
    int result;
};

class MailDateTest : public ::testing::TestWithParam<MailDateCase> {
protected:
    void TearDown() override { set_time_zone_bias_for_test(0); }
};

TEST_P(MailDateTest, FormatsInLocalTime) {
    const MailDateCase& c = GetParam();
    set_time_zone_bias_for_test(c.bias);
    char out[kMailDateSize];
    EXPECT_EQ(format_mail_date(out, c.value), c.result);
    EXPECT_EQ(std::string(out), c.expected);
}

const MailDateCase kCases[] = {
    // Zones moved to the gateway's.
    {kJapan, "Tue, 03 Dec 2002 10:20:30 +0900", "2002/12/03 10:20:30", 1},
    {kJapan, "Tue, 03 Dec 2002 10:20:30 +0000", "2002/12/03 19:20:30", 1},
    {kJapan, "Tue, 03 Dec 2002 10:20:30 GMT", "2002/12/03 19:20:30", 1},
    {kJapan, "3 Dec 2002 10:20:30 -0500", "2002/12/04 00:20:30", 1},
    {kJapan, "Tue, 3 Dec 2002 10:20:30 -0530", "2002/12/04 00:50:30", 1},
    {kJapan, "Tue, 31 Dec 2002 20:00:00 -0500", "2003/01/01 10:00:00", 1},
    {kJapan, "Thu, 28 Feb 2008 23:30:00 +0000", "2008/02/29 08:30:00", 1},
    {kJapan, "Sun, 28 Feb 2100 23:30:00 +0000", "2100/03/01 08:30:00", 1},
    {kUtc, "Tue, 03 Dec 2002 10:20:30 +0900", "2002/12/03 01:20:30", 1},
    {kUtc, "Wed, 01 Jan 2003 05:00:00 +0900", "2002/12/31 20:00:00", 1},
    {kNewYork, "Wed, 01 Jan 2003 02:00:00 +0000", "2002/12/31 21:00:00", 1},
    {kNewYork, "Tue, 03 Dec 2002 10:20:30 -0500", "2002/12/03 10:20:30", 1},
    {kIndia, "Tue, 03 Dec 2002 10:20:30 +0000", "2002/12/03 15:50:30", 1},
    {kStJohns, "Tue, 03 Dec 2002 10:20:30 +0000", "2002/12/03 06:50:30", 1},
    {kChatham, "Tue, 03 Dec 2002 10:20:30 +0000", "2002/12/03 23:05:30", 1},
    // "JST" and a missing zone mean the gateway's own time, whatever it is.
    {kJapan, "Tue, 3 Dec 02 10:20:30 JST", "1902/12/03 10:20:30", 1},
    {kUtc, "Tue, 03 Dec 2002 10:20:30 jst", "2002/12/03 10:20:30", 1},
    {kNewYork, "Tue, 03 Dec 2002 10:20:30", "2002/12/03 10:20:30", 1},
    {kJapan, "Tue, 03 Dec 2002 10:20 +0000", "2002/12/03 10:20:00", 1},
    {kJapan, "Tue, 3 Dec 2002", "2002/12/03 00:00:00", 1},
    // Layouts seen in the wild.
    {kJapan, "Tue, 03-Dec-2002 10:20:30 +0000", "2002/12/03 19:20:30", 1},
    {kJapan, "Dec 3 2002 10:20:30 +0900", "2002/12/03 10:20:30", 1},
    {kJapan, "  Tue,  3 Dec 2002  10:20:30 +0900 (JST)", "2002/12/03 10:20:30", 1},
    {kJapan, "Tuesdaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaay, 3 Dec 2002 10:20:30 +0900",
     "2002/12/03 10:20:30", 1},
    {kJapan, "\x89\xce, 3 Dec 2002 10:20:30 +0900", "2002/12/03 10:20:30", 1},
    {kUtc, "Tue, 3 DEC 2002 10:20:30 +0000", "2002/01/03 10:20:30", 1},
    // Not a calendar date: shown as read.
    {kJapan, "", "1900/00/00 00:00:00", 0},
    {kJapan, "Tue", "1900/00/00 00:00:00", 0},
    {kJapan, "Mon, 31 Feb 2002 10:20:30 +0000", "2002/02/31 10:20:30", 0},
    {kJapan, "Tue, 03 Dec 2002 24:00:00 +0000", "2002/12/03 24:00:00", 0},
    {kJapan, "Tue, 03 Dec 2002 23:59:60 +0000", "2002/12/03 23:59:60", 0},
    {kJapan, "Tue, xx Dec 2002 10:20:30 +0000", "2002/01/00 10:20:30", 0},
    {kJapan, "Tue, 03 Dec yyyy 10:20:30 +0000", "1900/12/03 00:00:00", 1},
    // Absurd numbers saturate instead of overflowing.
    {kJapan, "Tue, 03 Dec 99999999999 10:20:30 +0000", "9999/12/03 10:20:30", 0},
    {kJapan, "Tue, 999 Dec 2002 123:4567:89012 +0000", "2002/12/99 99:99:99", 0},
    {kJapan, "Tue, 03 Dec 2002 10:20:30 +99999999999", "2002/12/03 10:20:30", 0},
    {kUtc, "Fri, 31 Dec 9999 23:00:00 -0200", "9999/12/31 23:00:00", 0},
};

INSTANTIATE_TEST_SUITE_P(Values, MailDateTest, ::testing::ValuesIn(kCases));

TEST(MailDateCapacityTest, RefusesShortDestination) {
    char out[19] = "unchanged";
    EXPECT_EQ(format_mail_date(out, "Tue, 03 Dec 2002 10:20:30 +0900", sizeof out), -1);
    EXPECT_STREQ(out, "");
}

TEST(MonthNumberTest, NamesAreExactOrJanuary) {
    const struct {
        const char* name;
        int month;
    } cases[] = {{"Jan", 1}, {"Feb", 2}, {"Jun", 6},      {"Sep", 9}, {"Dec", 12},
                 {"DEC", 1}, {"dec", 1}, {"December", 1}, {"De", 1},  {"", 1}};
    for (const auto& c : cases) EXPECT_EQ(month_number(c.name), c.month) << c.name;
}

} // namespace
