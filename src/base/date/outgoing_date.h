// The Date header line of outgoing mail.
#pragma once
#include <cstddef>
#include <ctime>

// Room for any Date line up to the year 9999.
constexpr size_t kOutgoingDateSize = 48;

// Writes "Date: Tue, 3 Dec 2002 10:20:30 +0900\r\n": the gateway's local time now
// and the zone of the recorded bias. Returns the length written, or -1 when the
// line does not fit into capacity (dst then holds an empty string if capacity allows).
int outgoing_date_header(char* dst, size_t capacity);
template <size_t N> int outgoing_date_header(char (&dst)[N]) {
    return outgoing_date_header(dst, N);
}

// The same for the UTC instant utc.
int outgoing_date_header_at(char* dst, time_t utc, size_t capacity);
