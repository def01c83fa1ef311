#include "base/global_lock.h"

std::recursive_mutex globalLock;
