#include "base/date/time_zone.h"

#include <atomic>

static std::atomic<int> g_bias_minutes{0};

// Offset east of UTC in seconds at t, and whether daylight saving was in force.
static bool zone_offset_at(time_t t, long& gmtoff, bool& dst) {
    struct tm local;
    if (localtime_r(&t, &local) == nullptr) return false;
    gmtoff = local.tm_gmtoff;
    dst = local.tm_isdst > 0;
    return true;
}

// The standard offset: now, unless daylight saving is in force; then that of
// January or July of this year, whichever has none (southern zones save in January).
static long standard_offset_seconds() {
    time_t now = time(nullptr);
    long offset = 0;
    bool dst = false;
    if (!zone_offset_at(now, offset, dst)) return 0;
    if (!dst) return offset;
    struct tm probe;
    if (localtime_r(&now, &probe) == nullptr) return offset;
    for (int month : {0, 6}) {
        struct tm day = {};
        day.tm_year = probe.tm_year;
        day.tm_mon = month;
        day.tm_mday = 15;
        day.tm_hour = 12;
        day.tm_isdst = -1;
        time_t t = mktime(&day);
        long other = 0;
        bool other_dst = false;
        if (t != static_cast<time_t>(-1) && zone_offset_at(t, other, other_dst) && !other_dst) {
            return other;
        }
    }
    return offset;
}

int record_time_zone_bias() {
    tzset();
    int bias = static_cast<int>(-standard_offset_seconds() / 60);
    g_bias_minutes.store(bias, std::memory_order_relaxed);
    return bias;
}

int time_zone_bias() {
    return g_bias_minutes.load(std::memory_order_relaxed);
}

void set_time_zone_bias_for_test(int minutes) {
    g_bias_minutes.store(minutes, std::memory_order_relaxed);
}

bool gateway_local_time(time_t utc, struct tm& out) {
    time_t local = utc - static_cast<time_t>(time_zone_bias()) * 60;
    return gmtime_r(&local, &out) != nullptr;
}
