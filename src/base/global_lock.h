// The one process-wide lock. It guards the settings, the user table, the data
// file and the shared address book; it is never held across network traffic.
#pragma once
#include <mutex>

extern std::recursive_mutex globalLock;
