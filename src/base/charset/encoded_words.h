#pragma once
// Decoding RFC 2047 encoded words in received header values. Words are
// replaced by their raw bytes; EUC-JP words are rewritten as ISO-2022-JP so
// that everything Japanese reaching the display is either Shift_JIS or JIS
// with escapes, both of which the output filter turns into Shift_JIS.

#include <cstddef>

// Size of the destination the header readers give decode_encoded_words.
inline constexpr int kDecodedHeaderSize = 4096;

// Copies the NUL-terminated value into dst (dst_size bytes including the NUL),
// replacing each "=?charset?B?text?=" or "=?charset?Q?text?=" by its decoded
// bytes. A value that ends inside a charset is cut before the "=?"; a word
// whose closing "?=" is missing gives nothing. White space between words is
// kept. Outside words two-byte Shift_JIS characters are never split, and a
// word is written whole or not at all.
// Returns the length written, or -1 when the output was cut short for lack of
// room (dst then holds the complete part, NUL-terminated). dst_size <= 0: -1.
// Where the pieces of one encoded word lie in s, for a word that starts at
// s[i] == '=' and s[i + 1] == '?'. Offsets index s; next is the first byte
// after the closing "?=". Returns false when s ends before the word does.
struct EncodedWordSpan {
    int charset;
    int charsetLength;
    int text;
    int textLength;
    bool qEncoding;
    int next;
};
bool find_encoded_word(const char* s, int i, EncodedWordSpan& span_r);

int decode_encoded_words(char* dst, int dst_size, const char* value);

template <std::size_t N> int decode_encoded_words(char (&dst)[N], const char* value) {
    static_assert(N > 0 && N <= 0x7FFFFFFF);
    return decode_encoded_words(dst, static_cast<int>(N), value);
}
