// Who gives way when the connection table is full.
//
// A connection that has not finished its request costs its client nothing
// to be dropped for a newcomer: an idle socket, or a header sent a byte a
// second, would otherwise keep every browser out until its request
// time-out. The one that has waited longest goes first; a browser sends its
// request within a round trip of connecting, so it is never that one while
// such clients are about.
#pragma once
#include "server/connection.h"
#include <cstdint>

// Among first and the connections after it: the one still receiving its
// request that started earliest and has not already given way, or nullptr.
Connection* OldestUnfinishedRequest(Connection* first);

// Marks c as having given way and wakes its thread, which then sees the
// peer gone and closes the socket itself.
void GiveWay(Connection& c);
