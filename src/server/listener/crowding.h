// Who gives way when the connection table is full.
//
// A connection that has not finished its request costs its client nothing
// to be dropped for a newcomer: an idle socket, or a header sent a byte a
// second, would otherwise keep every browser out until its request
// time-out. The one that has waited longest goes first. A browser sends its
// request within a round trip of connecting, so a connection younger than
// kGiveWayAfterMs is never dropped: a burst of newcomers meets "Busy!"
// rather than cutting off each other's requests.
#pragma once
#include "page/connection.h"
#include <cstdint>

constexpr int64_t kGiveWayAfterMs = 1000;

// Among first and the connections after it: the one still receiving its
// request that started earliest, no later than startedBy (monotonic ms), and
// has not already given way; nullptr when there is none.
Connection* OldestUnfinishedRequest(Connection* first, int64_t startedBy);

// Marks c as having given way and wakes its thread, which then sees the
// peer gone and closes the socket itself.
void GiveWay(Connection& c);
