#include "base/text/address.h"

#include <cstring>

#include "base/text/char_class.h"
#include "base/text/sjis_pair.h"

static bool StartsBeforeAddress(unsigned char c) {
    return c == '<' || c == ' ' || c < 0x20 || c == 0x7F || c == '!' || c == '"';
}

static bool EndsAddress(char c) {
    return c == '\0' || std::strchr("\t\n\r >\"(", c) != nullptr;
}

size_t ExtractAddress(char* dst, const char* entry, size_t capacity) {
    if (capacity == 0) return 0;
    const char* start = entry;
    for (const char* p = entry; *p != '\0' && *p != '@';) {
        if (SjisPairAt(p)) {
            p += 2;
            continue;
        }
        if (StartsBeforeAddress(static_cast<unsigned char>(*p))) start = p + 1;
        ++p;
    }
    size_t n = 0;
    for (const char* p = start; !EndsAddress(*p);) {
        size_t len = TextCharLength(p);
        if (n + len >= capacity) break;
        std::memcpy(dst + n, p, len);
        n += len;
        p += len;
    }
    dst[n] = '\0';
    return n;
}

bool ValidAddress(const char* address) {
    if (address == nullptr) return true;
    bool at_seen = false;
    for (const char* p = address; *p != '\0'; ++p) {
        char c = *p;
        if (c == '.' && at_seen) return true;
        if (c == '@') {
            at_seen = true;
        } else if (!IsAlnum(c) && c != '.' && c != '-' && c != '_') {
            return false;
        }
    }
    return !at_seen;
}
