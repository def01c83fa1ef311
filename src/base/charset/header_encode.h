#pragma once
// Encoding outgoing header text: runs of Japanese become ISO-2022-JP
// B-encoded words, and long values are folded.

#include <cstddef>
#include <string>

// 0 if text is null, empty or exactly CR LF, else 1.
int has_more_text(const char* text);

// Writes the NUL-terminated Shift_JIS text into dst (dst_size bytes including
// the NUL) with each run of two-byte characters and half-width katakana (taken
// one for one as full-width, marks not composed) replaced by
// "=?ISO-2022-JP?B?...?=" words of at most 70 characters, each ending in
// ASCII. Long values are folded with CR LF and a blank after a ',' or blank
// (never right after ':') or between two words. A lead byte right before the
// NUL is dropped. Returns the length written, or -1 when dst was too small
// (dst then holds the output up to the last whole word or byte that fit,
// NUL-terminated). dst_size <= 0: -1.
int encode_header_words(char* dst, int dst_size, const char* text);

template <std::size_t N> int encode_header_words(char (&dst)[N], const char* text) {
    static_assert(N > 0 && N <= 0x7FFFFFFF);
    return encode_header_words(dst, static_cast<int>(N), text);
}

// The header line "Name: value" (CR LF optional) for a value that holds
// character references: every word with a byte outside ASCII or a
// reference, with the blanks between such words, becomes UTF-8 in
// "=?UTF-8?B?...?=" words of at most 72 characters; addresses, commas and
// other ASCII words stay as they are. Folded with CR LF and a blank so that
// no line passes 76 characters where a break is possible. Ends in CR LF.
std::string encode_header_words_utf8(const char* line);
