// The gateway's time-zone bias and its idea of local time.
//
// The bias is a count of minutes with UTC = local time + bias (Japan: -540). It is
// the zone's standard offset: daylight saving is ignored everywhere, so local time
// is always UTC minus the bias, and every date the gateway writes or converts
// agrees with the zone it states.
#pragma once
#include <ctime>

// Reads the standard offset of the system time zone (TZ) and keeps it for the whole
// process. Called once at start-up, before any thread uses the date functions.
// Returns the recorded bias.
int record_time_zone_bias();

// The recorded bias in minutes; 0 (UTC) until one is recorded.
int time_zone_bias();

// Pins the bias, so that tests do not depend on the machine's zone.
void set_time_zone_bias_for_test(int minutes);

// Fills out with the gateway's local time at the UTC instant utc (tm_wday and
// tm_yday included, tm_isdst 0). Returns false when the time cannot be represented.
bool gateway_local_time(time_t utc, struct tm& out);
