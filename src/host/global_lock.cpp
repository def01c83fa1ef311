#include "host/global_lock.h"

std::recursive_mutex globalLock;
