// Runs of blanks that survive HTML rendering on the browsers that need it.
#pragma once
#include <cstddef>

// Browser flags for which blanks are written as "&nbsp;" (MSIE; version 4 and later).
constexpr unsigned kBlanksAsNbspFlags = 0x02 | 0x40;

// Writes n copies of "&nbsp;" when browser_flags contain 0x02 or 0x40, else n
// blanks, stopping before a copy that does not fit into capacity - 1 bytes; then
// a NUL (nothing for capacity 0). Returns the length written.
size_t Blanks(char* dst, unsigned browser_flags, int n, size_t capacity);
template <size_t N> size_t Blanks(char (&dst)[N], unsigned browser_flags, int n) {
    return Blanks(dst, browser_flags, n, N);
}
