#pragma once
// Half-width katakana (JIS X 0201, one byte 0xA1-0xDF) to the full-width
// character of JIS X 0208, one character for one character. Sound marks are
// not composed here; callers that compose use the +1/+2 rule on the result.

#include <cstdint>

// Full-width Shift_JIS code for a half-width byte; 0x8140 (full-width space)
// for any byte outside 0xA1-0xDF.
std::uint16_t kana_to_sjis(unsigned char c);

// Full-width JIS code for a half-width byte; 0x2121 outside 0xA1-0xDF.
std::uint16_t kana_to_jis(unsigned char c);

constexpr bool is_halfwidth_kana(unsigned char c) {
    return c >= 0xA1 && c <= 0xDF;
}

// Half-width bytes whose full-width form has a voiced (code + 1) form:
// ｶ-ﾄ and ﾊ-ﾎ; and those with a semi-voiced (code + 2) form: ﾊ-ﾎ.
constexpr bool takes_voiced_mark(unsigned char c) {
    return (c >= 0xB6 && c <= 0xC4) || (c >= 0xCA && c <= 0xCE);
}
constexpr bool takes_semivoiced_mark(unsigned char c) {
    return c >= 0xCA && c <= 0xCE;
}
