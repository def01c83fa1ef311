#pragma once
// Shift_JIS byte classes, character-safe copy and search, and the arithmetic
// mapping between Shift_JIS and JIS X 0208 codes. All text inside the gateway
// is Shift_JIS, so every bounded copy here keeps two-byte characters whole.

#include <cstddef>
#include <cstdint>

// True for a Shift_JIS lead byte (0x81-0x9F, 0xE0-0xFC).
constexpr bool is_sjis_lead(unsigned char c) {
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

// True for a byte that can follow a lead byte (0x40-0xFC except 0x7F).
constexpr bool is_sjis_trail(unsigned char c) {
    return c >= 0x40 && c <= 0xFC && c != 0x7F;
}

// Appends the one character at s (a Shift_JIS pair or a single byte) to
// dst at w when it fits in room bytes, moving w past it. Returns its length,
// or 0 when it does not fit, with nothing written: a header decoded into a
// bounded field never ends on half a character.
inline int append_sjis_char(char* dst, int& w, int room, const char* s) {
    const int n = is_sjis_lead(static_cast<unsigned char>(s[0])) &&
                          is_sjis_trail(static_cast<unsigned char>(s[1]))
                      ? 2
                      : 1;
    if (room - w < n) return 0;
    dst[w++] = s[0];
    if (n == 2) dst[w++] = s[1];
    return n;
}

// 1 if any byte of the NUL-terminated text is a lead byte, else 0 (null: 0).
int has_sjis(const char* text);

// Index of the first occurrence of byte c that is not the trail byte of a
// two-byte character; -1 when absent, for null or empty text, or for c == 0.
int sjis_find(const char* text, char c);

// Copies at most size - 1 bytes of src and a NUL into dst. A two-byte
// character that does not fit, or whose trail is the source's NUL, is left
// out. Returns the number of bytes copied (no NUL counted); size <= 0 writes
// nothing and returns 0. A null src copies as empty.
int sjis_copy(char* dst, const char* src, int size);

template <std::size_t N> int sjis_copy(char (&dst)[N], const char* src) {
    static_assert(N > 0 && N <= 0x7FFFFFFF);
    return sjis_copy(dst, src, static_cast<int>(N));
}

// Shift_JIS lead/trail to the JIS X 0208 code (first byte high). The input
// range is not checked; out-of-range input gives a meaningless but defined
// result in 0x0000-0xFFFF.
constexpr std::uint16_t sjis_to_jis(unsigned char s1, unsigned char s2) {
    unsigned r = ((s1 < 0xA0 ? s1 - 0x71u : s1 - 0xB1u) * 2 + 1) & 0xFF;
    unsigned t = s2 >= 0x80 ? s2 - 1u : s2;
    unsigned hi = t >= 0x9E ? r + 1 : r;
    unsigned lo = t >= 0x9E ? t - 0x7D : t - 0x1F;
    return static_cast<std::uint16_t>(((hi & 0xFF) << 8) | (lo & 0xFF));
}

// JIS X 0208 bytes (0x21-0x7E each) to the Shift_JIS code (lead byte high).
// Unchecked like sjis_to_jis.
constexpr std::uint16_t jis_to_sjis(unsigned char j1, unsigned char j2) {
    unsigned t = (j1 & 1) ? j2 + 0x1Fu : j2 + 0x7Du;
    if (t >= 0x7F) ++t;
    unsigned h = ((j1 - 0x21u) >> 1) & 0xFF;
    unsigned lead = h < 31 ? h + 0x81 : h + 0xC1;
    return static_cast<std::uint16_t>(((lead & 0xFF) << 8) | (t & 0xFF));
}
