// How many browser connections the server holds. The listener counts them;
// the administrator's commands read the count to wait until no page runs.
#pragma once
#include <atomic>

std::atomic<int>& connection_count();
inline int ConnectionCount() {
    return connection_count();
}
