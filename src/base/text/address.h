// Mail addresses inside address-list entries such as «Taro <t@b.c>».
#pragma once
#include <cstddef>

// Copies the bare address of one list entry into dst. Up to the first "@" (a
// second byte of a Shift_JIS pair does not count) the address begins after the
// last "<", blank, control character, "!" or double quote; it ends before the
// first tab, line feed, carriage return, blank, ">", double quote or "(". So
// «Taro <t@b.c>» and «t@b.c (Taro)» both give «t@b.c»; an entry without "@" gives
// its last word. At most capacity - 1 bytes, never half a pair, then a NUL.
// Returns the length written.
size_t ExtractAddress(char* dst, const char* entry, size_t capacity);
template <size_t N> size_t ExtractAddress(char (&dst)[N], const char* entry) {
    return ExtractAddress(dst, entry, N);
}

// True for an empty address and for one made of ASCII letters, digits, ".", "-",
// "_" and "@" that either has no "@" (a local name) or has a "." somewhere after
// its first "@"; bytes after that "." are not examined. «t@host» is false.
bool ValidAddress(const char* address);
