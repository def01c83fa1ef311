#include "base/text/secret_equals.h"

#include <cstring>

bool SecretEquals(const char* stored, size_t capacity, const char* given) {
    size_t s = strnlen(stored, capacity);
    size_t g = strnlen(given, capacity + 1);
    unsigned diff = s != g ? 1u : 0u;
    for (size_t i = 0; i < capacity; i++) {
        auto a = static_cast<unsigned char>(i < s ? stored[i] : 0);
        auto b = static_cast<unsigned char>(i < g ? given[i] : 0);
        diff |= a ^ b;
    }
    return diff == 0;
}
