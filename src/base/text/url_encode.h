// Percent-encoding of bytes placed in URLs.
#pragma once
#include <cstddef>

// Copies src into dst, keeping the bytes "*" to "z" except "+,/:;<=>?@[\]^`" and
// writing every other byte as "%" and two upper-case hex digits. A two-byte
// Shift_JIS character is written whole or not at all. Stops before the first piece
// that does not fit into capacity - 1 bytes, then a NUL (nothing for capacity 0).
// Returns the length written.
size_t UrlEncode(char* dst, const char* src, size_t capacity);
template <size_t N> size_t UrlEncode(char (&dst)[N], const char* src) {
    return UrlEncode(dst, src, N);
}

// The two characters at s read as a hex byte (either case), or -1.
int HexPair(const char* s);
