#include "base/date/time_zone.h"
#include "mail/mail_golden.h"

#include <cstdlib>
#include <optional>

#include "base/date/local_seconds.h"
#include "base/date/mail_date.h"
#include "base/date/outgoing_date.h"
#include "base/date/response_date.h"

namespace {

class TimeZoneTest : public ::testing::Test {
protected:
    void TearDown() override {
        savedTz_ ? setenv("TZ", savedTz_->c_str(), 1) : unsetenv("TZ");
        tzset();
        set_time_zone_bias_for_test(0);
    }

private:
    std::optional<std::string> savedTz_ =
        std::getenv("TZ") ? std::optional<std::string>(std::getenv("TZ")) : std::nullopt;
};

constexpr time_t kJuly2002 = 1025524800; // 2002-07-01 12:00:00 UTC, summer in the north

TEST_F(TimeZoneTest, RecordsStandardOffsetAndWritesItsDates) {
    for (const auto& t : CASE_BLOCKS("time_zones.ref")) {
        const char* tz = t.at(0).c_str();
        SCOPED_TRACE(tz);
        if (t[0].find('/') != std::string::npos &&
            !std::filesystem::exists("/usr/share/zoneinfo/" + t[0]))
            continue; // tzdata not installed
        setenv("TZ", tz, 1);
        EXPECT_EQ(record_time_zone_bias(), std::stoi(t.at(1)));

        char header[kOutgoingDateSize];
        EXPECT_EQ(outgoing_date_header_at(header, kJuly2002, sizeof header),
                  static_cast<int>(t.at(2).size()));
        EXPECT_EQ(header, t[2]);

        // The same instant received from a zone two hours east shows the header's time.
        char shown[kMailDateSize];
        EXPECT_EQ(format_mail_date(shown, "Mon, 1 Jul 2002 14:00:00 +0200"), 1);
        EXPECT_NE(std::string(header).find(std::string(shown).substr(11)), std::string::npos);
    }
}

TEST_F(TimeZoneTest, ResponseDateIgnoresBiasLocalSecondsAndMailDatesHonourIt) {
    set_time_zone_bias_for_test(-540);
    for (const auto& k : SERVER_CASES("response_dates.ref")) {
        char out[kResponseDateSize];
        EXPECT_EQ(response_date(out, std::stoll(k.at(0)), std::stoul(k.at(1))), std::stoi(k.at(2)));
        EXPECT_EQ(out, k.at(3)) << k[0];
    }
    // Local seconds count local time, with its leap years.
    for (int bias : {-540, 300}) {
        set_time_zone_bias_for_test(bias);
        for (const auto& k : SERVER_CASES("leap_instants.ref")) {
            const time_t t = std::stoll(k.at(0));
            EXPECT_EQ(local_seconds_at(t), static_cast<uint32_t>(t - bias * 60)) << t;
        }
    }
    auto expected = static_cast<uint32_t>(time(nullptr) - 300 * 60);
    EXPECT_LE(std::abs(static_cast<int32_t>(local_seconds() - expected)), 2);
    // Mail dates are written in local time.
    for (const auto& t : CASE_BLOCKS("mail_dates.ref")) {
        set_time_zone_bias_for_test(std::stoi(t.at(0)));
        char out[kMailDateSize];
        EXPECT_EQ(format_mail_date(out, t.at(1).c_str()), std::stoi(t.at(3))) << t[1];
        EXPECT_EQ(std::string(out), t.at(2)) << t[1];
    }
}

} // namespace
