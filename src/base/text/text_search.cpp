#include "base/text/text_search.h"

#include <climits>
#include <cstdint>

#include "base/text/char_class.h"

static int PrefixCompare(const char* a, const char* b, int n, bool ignore_case) {
    if (a == nullptr || b == nullptr || n < 1) return 1;
    for (int i = 0; i < n; ++i) {
        if (a[i] == '\0' || b[i] == '\0') return 1;
        char x = ignore_case ? ToUpperAscii(a[i]) : a[i];
        char y = ignore_case ? ToUpperAscii(b[i]) : b[i];
        if (x != y) return 1;
    }
    return 0;
}

int PrefixEqualNoCase(const char* a, const char* b, int n) {
    return PrefixCompare(a, b, n, true);
}

int PrefixEqual(const char* a, const char* b, int n) {
    return PrefixCompare(a, b, n, false);
}

int FindChar(const char* s, char c) {
    if (s == nullptr || c == '\0') return -1;
    for (int i = 0; s[i] != '\0'; ++i) {
        if (s[i] == c) return i;
    }
    return -1;
}

const char* FindLastChar(const char* s, char c) {
    if (s == nullptr || c == '\0') return nullptr;
    const char* last = nullptr;
    for (; *s != '\0'; ++s) {
        if (*s == c) last = s;
    }
    return last;
}

const char* SkipBlanks(const char* s) {
    while (*s == ' ' || *s == '\t') ++s;
    return s;
}

int ParseInt(const char* s, const char** end) {
    const char* p = SkipBlanks(s);
    bool negative = false;
    if (*p == '-') {
        negative = true;
        ++p;
    }
    if (!IsDigit(*p)) {
        if (end != nullptr) *end = s;
        return 0;
    }
    // Accumulation stops once past the int range, so the sum cannot overflow.
    int64_t value = 0;
    for (; IsDigit(*p); ++p) {
        if (value <= INT_MAX) value = value * 10 + (*p - '0');
    }
    if (end != nullptr) *end = p;
    if (negative)
        return value > -static_cast<int64_t>(INT_MIN) ? INT_MIN : static_cast<int>(-value);
    return value > INT_MAX ? INT_MAX : static_cast<int>(value);
}
