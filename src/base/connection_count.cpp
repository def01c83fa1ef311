#include "base/connection_count.h"

std::atomic<int>& connection_count() {
    static std::atomic<int> count{0};
    return count;
}
