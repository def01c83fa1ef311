#include "base/date/outgoing_date.h"

#include <cstdio>

#include "base/date/calendar.h"
#include "base/date/time_zone.h"

int outgoing_date_header_at(char* dst, time_t utc, size_t capacity) {
    if (capacity > 0) dst[0] = '\0';
    struct tm local;
    if (!gateway_local_time(utc, local)) return -1;
    int bias = time_zone_bias();
    char sign = '-';
    if (bias <= 0) {
        sign = '+';
        bias = -bias;
    }
    int n = std::snprintf(dst, capacity, "Date: %s, %d %s %d %02d:%02d:%02d %c%02d%02d\r\n",
                          kWeekdayNames[local.tm_wday], local.tm_mday, kMonthNames[local.tm_mon],
                          local.tm_year + 1900, local.tm_hour, local.tm_min, local.tm_sec, sign,
                          bias / 60, bias % 60);
    if (n < 0 || static_cast<size_t>(n) >= capacity) {
        if (capacity > 0) dst[0] = '\0';
        return -1;
    }
    return n;
}

int outgoing_date_header(char* dst, size_t capacity) {
    return outgoing_date_header_at(dst, time(nullptr), capacity);
}
