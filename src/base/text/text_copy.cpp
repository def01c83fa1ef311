#include "base/text/text_copy.h"

#include <cstring>

#include "base/text/sjis_pair.h"

// A loop, not strchr: the sets are a few bytes long and asked for every byte.
static bool IsDelimiter(char c, const char* delimiters) {
    for (const char* d = delimiters; *d != '\0'; ++d)
        if (*d == c) return true;
    return false;
}

const char* CopyUntil(char* dst, const char* src, const char* delimiters, size_t capacity) {
    const char* p = src;
    size_t n = 0;
    bool full = capacity == 0;
    while (*p != '\0' && !IsDelimiter(*p, delimiters)) {
        size_t len = TextCharLength(p);
        if (!full && n + len < capacity) {
            std::memcpy(dst + n, p, len);
            n += len;
        } else {
            full = true;
        }
        p += len;
    }
    if (capacity > 0) dst[n] = '\0';
    if (*p != '\0') ++p;
    return p;
}

const char* ReadLine(char* dst, const char* src, size_t capacity) {
    if (capacity == 0) return src;
    const char* p = src;
    size_t n = 0;
    while (*p != '\0' && *p != '\n') {
        if (*p == '\r') {
            ++p;
            continue;
        }
        size_t len = TextCharLength(p);
        if (n + len >= capacity) {
            dst[n] = '\0';
            return p;
        }
        std::memcpy(dst + n, p, len);
        n += len;
        p += len;
    }
    dst[n] = '\0';
    if (*p == '\n') ++p;
    return p;
}

const char* SplitField(const char* text, char* name, size_t capacity) {
    const char* eq = strchr(text, '=');
    if (!eq || capacity == 0) return nullptr;
    const size_t n = static_cast<size_t>(eq - text);
    if (n >= capacity) return nullptr;
    memcpy(name, text, n);
    name[n] = '\0';
    return eq + 1;
}
