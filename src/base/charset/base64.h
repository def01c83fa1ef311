#pragma once
// Base64 with the MIME alphabet and '=' padding, over raw byte buffers.

#include <array>
#include <cstdint>

// Characters base64_encode writes for len input bytes.
constexpr int base64_encoded_size(int len) {
    return len <= 0 ? 0 : (len + 2) / 3 * 4;
}

// Upper bound of the bytes base64_decode writes for len input characters.
constexpr int base64_decoded_max(int len) {
    return len <= 0 ? 0 : len / 4 * 3 + (len % 4) * 3 / 4;
}

// Encodes src[0..len) into dst, which must hold base64_encoded_size(len)
// characters. Writes no NUL and no line breaks. Returns the characters written.
int base64_encode(char* dst, const char* src, int len);

// Decodes src[0..len) into dst, which must hold base64_decoded_max(len)
// bytes. Stops at the first '='. Characters outside the alphabet (line ends,
// blanks, stray bytes) are skipped, so they neither end the text nor shift the
// groups. A final group of two or three characters yields one or two bytes; a
// lone final character yields nothing. Writes no NUL. Returns the bytes written.
int base64_decode(char* dst, const char* src, int len);

// Decodes the leading groups of four alphabet characters of src[0..len) and
// stops before the first group holding anything else ('=', a blank, a stray
// byte). Sets *used to the characters taken. Returns the bytes written.
int base64_decode_groups(char* dst, const char* src, int len, int* used);

inline constexpr char kBase64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::array<std::uint8_t, 256> make_base64_values() {
    std::array<std::uint8_t, 256> v{};
    for (auto& x : v) x = 255;
    for (int i = 0; i < 64; ++i)
        v[static_cast<unsigned char>(kBase64Alphabet[i])] = std::uint8_t(i);
    v['='] = 64;
    return v;
}

// Value of an alphabet character (0-63), 64 for '=', 255 for anything else.
inline constexpr std::array<std::uint8_t, 256> kBase64Values = make_base64_values();

// One-character-at-a-time form of base64_decode for callers that transform
// each byte as it is decoded. feed() returns the byte completed by c, or -1.
struct Base64Decoder {
    std::uint32_t acc = 0;
    int bits = 0;
    bool ended = false;

    int feed(char c) {
        const std::uint8_t v = kBase64Values[static_cast<unsigned char>(c)];
        if (ended || v == 255) return -1;
        if (v == 64) {
            ended = true;
            return -1;
        }
        acc = (acc << 6) | v;
        bits += 6;
        if (bits < 8) return -1;
        bits -= 8;
        return static_cast<int>((acc >> bits) & 0xFF);
    }
};
