#include "mail/date/mail_date.h"

#include <gtest/gtest.h>

#include <string>

#include "mail/date/time_zone.h"
#include "mail/mail_golden.h"

namespace {

TEST(MailDateTest, FormatsInLocalTime) {
    for (const auto& t : mail_golden::ReadCases(GOLDEN_PATH("mail_dates.ref"))) {
        set_time_zone_bias_for_test(std::stoi(t.at(0)));
        char out[kMailDateSize];
        EXPECT_EQ(format_mail_date(out, t.at(1).c_str()), std::stoi(t.at(3))) << t[1];
        EXPECT_EQ(std::string(out), t.at(2)) << t[1];
    }
    set_time_zone_bias_for_test(0);
}

} // namespace
