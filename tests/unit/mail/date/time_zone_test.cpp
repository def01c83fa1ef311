#include "mail/date/time_zone.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>
#include <sys/stat.h>

#include "mail/date/local_seconds.h"
#include "mail/date/mail_date.h"
#include "mail/date/outgoing_date.h"

namespace {

// Restores the process's zone after each test that changes it.
class TimeZoneTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* tz = std::getenv("TZ");
        had_tz_ = tz != nullptr;
        if (had_tz_) saved_tz_ = tz;
    }
    void TearDown() override {
        if (had_tz_) {
            setenv("TZ", saved_tz_.c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
        set_time_zone_bias_for_test(0);
    }
    static void UseZone(const char* tz) {
        setenv("TZ", tz, 1);
        tzset();
    }

private:
    bool had_tz_ = false;
    std::string saved_tz_;
};

struct ZoneCase {
    const char* tz;
    bool needs_zoneinfo;
    int bias;
    // 2002-07-01 12:00:00 UTC, when the northern zones keep summer time.
    const char* header;
    const char* converted;
};

const ZoneCase kZones[] = {
    {"JST-9", false, -540, "Date: Mon, 1 Jul 2002 21:00:00 +0900\r\n", "2002/07/01 21:00:00"},
    {"UTC0", false, 0, "Date: Mon, 1 Jul 2002 12:00:00 +0000\r\n", "2002/07/01 12:00:00"},
    {"EST5", false, 300, "Date: Mon, 1 Jul 2002 07:00:00 -0500\r\n", "2002/07/01 07:00:00"},
    {"IST-5:30", false, -330, "Date: Mon, 1 Jul 2002 17:30:00 +0530\r\n", "2002/07/01 17:30:00"},
    {"NST3:30", false, 210, "Date: Mon, 1 Jul 2002 08:30:00 -0330\r\n", "2002/07/01 08:30:00"},
    {"<+1245>-12:45", false, -765, "Date: Tue, 2 Jul 2002 00:45:00 +1245\r\n",
     "2002/07/02 00:45:00"},
    {"<-11>11", false, 660, "Date: Mon, 1 Jul 2002 01:00:00 -1100\r\n", "2002/07/01 01:00:00"},
    // Daylight saving is ignored in summer and in winter, north and south.
    {"EST5EDT,M3.2.0,M11.1.0", false, 300, "Date: Mon, 1 Jul 2002 07:00:00 -0500\r\n",
     "2002/07/01 07:00:00"},
    {"AEST-10AEDT,M10.1.0,M4.1.0/3", false, -600, "Date: Mon, 1 Jul 2002 22:00:00 +1000\r\n",
     "2002/07/01 22:00:00"},
    {"Asia/Tokyo", true, -540, "Date: Mon, 1 Jul 2002 21:00:00 +0900\r\n", "2002/07/01 21:00:00"},
    {"America/New_York", true, 300, "Date: Mon, 1 Jul 2002 07:00:00 -0500\r\n",
     "2002/07/01 07:00:00"},
    {"Asia/Kolkata", true, -330, "Date: Mon, 1 Jul 2002 17:30:00 +0530\r\n", "2002/07/01 17:30:00"},
    {"America/St_Johns", true, 210, "Date: Mon, 1 Jul 2002 08:30:00 -0330\r\n",
     "2002/07/01 08:30:00"},
    {"Pacific/Chatham", true, -765, "Date: Tue, 2 Jul 2002 00:45:00 +1245\r\n",
     "2002/07/02 00:45:00"},
    {"Australia/Sydney", true, -600, "Date: Mon, 1 Jul 2002 22:00:00 +1000\r\n",
     "2002/07/01 22:00:00"},
};

constexpr time_t kJuly2002 = 1025524800;

bool HaveZoneFile(const char* tz) {
    struct stat st;
    return stat((std::string("/usr/share/zoneinfo/") + tz).c_str(), &st) == 0;
}

TEST_F(TimeZoneTest, RecordsStandardOffsetAndWritesItsDates) {
    for (const ZoneCase& c : kZones) {
        SCOPED_TRACE(c.tz);
        if (c.needs_zoneinfo && !HaveZoneFile(c.tz)) continue;
        UseZone(c.tz);
        EXPECT_EQ(record_time_zone_bias(), c.bias);
        EXPECT_EQ(time_zone_bias(), c.bias);

        char header[kOutgoingDateSize];
        int n = outgoing_date_header_at(header, kJuly2002, sizeof header);
        EXPECT_EQ(std::string(header), c.header);
        EXPECT_EQ(n, static_cast<int>(std::string(c.header).size()));

        // A date received in any zone is shown as the same local time the gateway writes.
        char shown[kMailDateSize];
        EXPECT_EQ(format_mail_date(shown, "Mon, 1 Jul 2002 12:00:00 +0000"), 1);
        EXPECT_STREQ(shown, c.converted);
        EXPECT_EQ(format_mail_date(shown, "Mon, 1 Jul 2002 14:00:00 +0200"), 1);
        EXPECT_STREQ(shown, c.converted);
    }
}

TEST_F(TimeZoneTest, OutgoingHeaderRefusesShortDestination) {
    set_time_zone_bias_for_test(-540);
    char header[20] = "x";
    EXPECT_EQ(outgoing_date_header_at(header, kJuly2002, sizeof header), -1);
    EXPECT_STREQ(header, "");
    char full[kOutgoingDateSize];
    EXPECT_GT(outgoing_date_header(full), 0);
    EXPECT_EQ(std::string(full).substr(0, 6), "Date: ");
    EXPECT_EQ(std::string(full).substr(std::string(full).size() - 7), "+0900\r\n");
}

TEST_F(TimeZoneTest, LocalSecondsCountsLocalTimeWithItsLeapYears) {
    const time_t instants[] = {
        315532800,  // 1980-01-01 00:00:00
        946684799,  // 1999-12-31 23:59:59
        951868799,  // 2000-02-29 23:59:59
        951868800,  // 2000-03-01 00:00:00
        1038910830, // 2002-12-03 10:20:30
        1709208000, // 2024-02-29 12:00:00
        1709294400, // 2024-03-01 12:00:00
        1735689599, // 2024-12-31 23:59:59
        4102444799, // 2099-12-31 23:59:59
    };
    for (int bias : {-540, 0, 300, -765}) {
        set_time_zone_bias_for_test(bias);
        for (time_t t : instants) {
            // Past 1980 the local calendar fields must add up to plain seconds.
            if (t - bias * 60 < 315532800) continue;
            EXPECT_EQ(local_seconds_at(t), static_cast<uint32_t>(t - bias * 60))
                << "bias " << bias << " at " << t;
        }
    }
    set_time_zone_bias_for_test(-540);
    uint32_t expected = static_cast<uint32_t>(time(nullptr) + 540 * 60);
    uint32_t now = local_seconds();
    EXPECT_LE(now - expected + 2, 4u);
}

} // namespace
