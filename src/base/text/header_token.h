// Token scanning over header values, shared by the request and part headers.
#pragma once
#include <cstddef>
#include <cstring>

struct HeaderToken {
    const char* start;
    size_t length;    // 0 when the text held only delimiters
    const char* rest; // first byte after the token
};

// Skips the delimiters at text, then takes the bytes up to the next delimiter
// or the NUL. Header names and tokens are ASCII, so a byte-wise scan is exact.
inline HeaderToken NextHeaderToken(const char* text, const char* delimiters) {
    const char* p = text;
    while (*p != '\0' && strchr(delimiters, *p) != nullptr) ++p;
    const char* end = p;
    while (*end != '\0' && strchr(delimiters, *end) == nullptr) ++end;
    return {p, static_cast<size_t>(end - p), end};
}

// True when the token is exactly word, ignoring ASCII case.
inline bool TokenIsNoCase(const HeaderToken& t, const char* word) {
    size_t n = strlen(word);
    if (t.length != n) return false;
    for (size_t i = 0; i < n; ++i) {
        char a = t.start[i], b = word[i];
        if (a >= 'a' && a <= 'z') a = static_cast<char>(a - 'a' + 'A');
        if (b >= 'a' && b <= 'z') b = static_cast<char>(b - 'a' + 'A');
        if (a != b) return false;
    }
    return true;
}
