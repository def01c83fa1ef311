// The Date header of received mail, shown in the gateway's local time.
#pragma once
#include <cstddef>

// Size of a formatted mail date: "yyyy/mm/dd hh:mm:ss" and the NUL.
constexpr size_t kMailDateSize = 20;

// 1 to 12 for "Jan" to "Dec" (exact case, whole name); 1 for anything else.
int month_number(const char* name);

// Reads a Date header value such as «Tue, 03 Dec 2002 10:20:30 +0900» and writes
// "yyyy/mm/dd hh:mm:ss" in the gateway's local time: the sender's zone ("+hhmm",
// "-hhmm"; "JST" and a missing zone mean local time, any other name UTC) is moved
// to the recorded bias. Two-digit years name 1900-1999. A date that is not a valid
// calendar date (an empty or null value gives month 0, day 0) is written unconverted.
// Fields too wide for their columns are shown as 9999 (year) or 99, so the result
// is always 19 characters.
// Returns 1 for a valid date, 0 for one written unconverted, -1 when capacity is
// below kMailDateSize (dst then holds an empty string if capacity allows).
int format_mail_date(char* dst, const char* value, size_t capacity);
template <size_t N> int format_mail_date(char (&dst)[N], const char* value) {
    static_assert(N >= kMailDateSize, "a mail date needs 20 bytes");
    return format_mail_date(dst, value, N);
}
