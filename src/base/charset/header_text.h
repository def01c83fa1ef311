#pragma once
// Copying header text for display, with half-width katakana widened: the
// pages are set in full-width forms, and older mailers send JIS X 0201
// katakana raw or between SO and SI.

#include <cstddef>

// Copies the NUL-terminated src into dst, writing at most size - 1 bytes and
// a NUL. Two-byte characters are copied whole; half-width katakana (raw, or
// 0x21-0x5F between SO and SI) become their two-byte full-width form, with a
// following voiced or semi-voiced mark folded in where a combined form
// exists. SO and SI are not copied. Copying stops at the first character that
// does not fit; a lead byte right before the source's NUL is dropped. Returns
// the number of bytes written; size <= 0 writes nothing. Null src copies as empty.
int copy_header_text(char* dst, const char* src, int size);

template <std::size_t N> int copy_header_text(char (&dst)[N], const char* src) {
    static_assert(N > 0 && N <= 0x7FFFFFFF);
    return copy_header_text(dst, src, static_cast<int>(N));
}

// Received header text as pages and forms show it: two-byte runs converted
// to Shift_JIS, leftover shift and escape bytes and the NULs a broken run
// converts to dropped. Markup escaping must come after this, as a JIS byte
// pair can hold '<', '"', '&' or '>'. Returns the bytes written.
int header_display_text(char* dst, const char* src, int size);

template <std::size_t N> int header_display_text(char (&dst)[N], const char* src) {
    static_assert(N > 0 && N <= 0x7FFFFFFF);
    return header_display_text(dst, src, static_cast<int>(N));
}
