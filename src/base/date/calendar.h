// Proleptic Gregorian calendar arithmetic and the English names used in mail
// and HTTP dates.
#pragma once
#include <cstdint>

extern const char* const kMonthNames[12];  // "Jan" .. "Dec"
extern const char* const kWeekdayNames[7]; // "Sun" .. "Sat"

constexpr bool is_leap_year(int64_t year) {
    return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

// Days in month (1-12) of year; 0 for a month out of range.
int days_in_month(int64_t year, int month);

// Days from 1970-01-01 to the given date (negative before it). month 1-12, day 1-31.
int64_t days_from_civil(int64_t year, int month, int day);

struct CivilDate {
    int64_t year;
    int month; // 1-12
    int day;   // 1-31
};

// The date that lies days after 1970-01-01 (before it for negative days).
CivilDate civil_from_days(int64_t days);

// 0 (Sunday) to 6 (Saturday) for the day that lies days after 1970-01-01.
int weekday_from_days(int64_t days);
