#include "base/charset/base64.h"

int base64_encode(char* dst, const char* src, int len) {
    if (!dst || !src || len <= 0) return 0;
    auto* s = reinterpret_cast<const unsigned char*>(src);
    int w = 0;
    int i = 0;
    for (; len - i >= 3; i += 3) {
        const unsigned v = (s[i] << 16) | (s[i + 1] << 8) | s[i + 2];
        dst[w] = kBase64Alphabet[v >> 18];
        dst[w + 1] = kBase64Alphabet[(v >> 12) & 63];
        dst[w + 2] = kBase64Alphabet[(v >> 6) & 63];
        dst[w + 3] = kBase64Alphabet[v & 63];
        w += 4;
    }
    if (len - i == 1) {
        const unsigned v = s[i] << 16;
        dst[w++] = kBase64Alphabet[v >> 18];
        dst[w++] = kBase64Alphabet[(v >> 12) & 63];
        dst[w++] = '=';
        dst[w++] = '=';
    } else if (len - i == 2) {
        const unsigned v = (s[i] << 16) | (s[i + 1] << 8);
        dst[w++] = kBase64Alphabet[v >> 18];
        dst[w++] = kBase64Alphabet[(v >> 12) & 63];
        dst[w++] = kBase64Alphabet[(v >> 6) & 63];
        dst[w++] = '=';
    }
    return w;
}

int base64_decode_groups(char* dst, const char* src, int len, int* used) {
    auto* s = reinterpret_cast<const unsigned char*>(src);
    int w = 0;
    int i = 0;
    while (len - i >= 4) {
        const unsigned a = kBase64Values[s[i]], b = kBase64Values[s[i + 1]],
                       c = kBase64Values[s[i + 2]], d = kBase64Values[s[i + 3]];
        if ((a | b | c | d) >= 64) break;
        const unsigned v = (a << 18) | (b << 12) | (c << 6) | d;
        dst[w] = static_cast<char>(v >> 16);
        dst[w + 1] = static_cast<char>(v >> 8);
        dst[w + 2] = static_cast<char>(v);
        w += 3;
        i += 4;
    }
    *used = i;
    return w;
}

int base64_decode(char* dst, const char* src, int len) {
    if (!dst || !src || len <= 0) return 0;
    // Whole groups of clean alphabet characters, the usual case, four at a time.
    int i = 0;
    int w = base64_decode_groups(dst, src, len, &i);
    Base64Decoder dec;
    for (; i < len && !dec.ended; ++i) {
        const int byte = dec.feed(src[i]);
        if (byte >= 0) dst[w++] = static_cast<char>(byte);
    }
    return w;
}
