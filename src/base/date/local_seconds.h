// A running count of local seconds for time-outs and stamps.
#pragma once
#include <cstdint>
#include <ctime>

// Seconds since 1970-01-01 00:00 counted in the gateway's local time, as an
// unsigned 32-bit count (it wraps in 2106). Every fourth year from 1980 counts as
// a leap year, which is exact from 1980 to 2099.
uint32_t local_seconds();

// local_seconds at the UTC instant utc.
uint32_t local_seconds_at(time_t utc);
