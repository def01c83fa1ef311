#include "base/date/local_seconds.h"

#include "base/date/time_zone.h"

// Counted from the local calendar fields, not from time_t, so that stamps keep the
// values the gateway has always written, including its leap-year rule.
static uint32_t local_seconds_of(const struct tm& local) {
    static const int kDaysBeforeMonth[12] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
    int64_t year = static_cast<int64_t>(local.tm_year) + 1900;
    int month = local.tm_mon >= 0 && local.tm_mon < 12 ? local.tm_mon : 0;
    int64_t day = kDaysBeforeMonth[month] + local.tm_mday - 1;
    if (month > 1 && year % 4 == 0) day += 1;
    int64_t seconds = ((day * 24 + local.tm_hour) * 60 + local.tm_min) * 60 + local.tm_sec;
    int64_t y = year - 1980;
    int64_t rem = ((y % 4) + 4) % 4;
    int64_t total =
        (y - rem) * 31557600 + rem * 31536000 + 315532800 + (rem != 0 ? 86400 : 0) + seconds;
    return static_cast<uint32_t>(total);
}

uint32_t local_seconds_at(time_t utc) {
    struct tm local;
    if (!gateway_local_time(utc, local)) return 0;
    return local_seconds_of(local);
}

uint32_t local_seconds() {
    return local_seconds_at(time(nullptr));
}
