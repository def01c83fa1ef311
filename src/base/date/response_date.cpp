#include "base/date/response_date.h"

#include <cstdio>

#include "base/date/calendar.h"

int response_date(char* dst, time_t utc, size_t capacity) {
    if (capacity > 0) dst[0] = '\0';
    struct tm t;
    if (gmtime_r(&utc, &t) == nullptr) return -1;
    int n = std::snprintf(dst, capacity, "%s, %d %s %d %02d:%02d:%02d GMT",
                          kWeekdayNames[t.tm_wday], t.tm_mday, kMonthNames[t.tm_mon],
                          t.tm_year + 1900, t.tm_hour, t.tm_min, t.tm_sec);
    if (n < 0 || static_cast<size_t>(n) >= capacity) {
        if (capacity > 0) dst[0] = '\0';
        return -1;
    }
    return n;
}
