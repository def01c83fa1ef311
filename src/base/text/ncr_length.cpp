#include "base/text/ncr_length.h"

#include <cstdint>

int foreign_ncr_length(const char* s) {
    if (!s || s[0] != '&' || s[1] != '#' || s[2] < '1' || s[2] > '9') return 0;
    uint32_t value = 0;
    int i = 2;
    for (; s[i] >= '0' && s[i] <= '9'; ++i) {
        if (i > 8) return 0; // more than seven digits
        value = value * 10 + static_cast<uint32_t>(s[i] - '0');
    }
    if (s[i] != ';' || value < 0x80 || value > 0x10FFFF) return 0;
    return i + 1;
}
