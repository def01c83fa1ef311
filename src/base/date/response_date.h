// Dates of HTTP responses ("Date", "Last-Modified").
#pragma once
#include <cstddef>
#include <ctime>

// Room for any response date up to the year 9999.
constexpr size_t kResponseDateSize = 32;

// Writes "Fri, 4 Dec 2026 13:05:09 GMT" for the UTC instant utc (the day is not
// zero-padded). Returns the length written, or -1 when the text does not fit into
// capacity or the instant cannot be represented (dst then holds an empty string if
// capacity allows).
int response_date(char* dst, time_t utc, size_t capacity);
template <size_t N> int response_date(char (&dst)[N], time_t utc) {
    return response_date(dst, utc, N);
}
