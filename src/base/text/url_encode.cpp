#include "base/text/url_encode.h"

#include <cstring>

#include "base/text/char_class.h"
#include "base/text/sjis_pair.h"

static bool KeptInUrl(unsigned char c) {
    return c >= '*' && c <= 'z' && std::strchr("+,/:;<=>?@[\\]^`", c) == nullptr;
}

// Writes the encoding of one byte at out; returns its length (1 or 3).
static size_t EncodeByte(unsigned char c, char* out) {
    static const char kHex[] = "0123456789ABCDEF";
    if (KeptInUrl(c)) {
        out[0] = static_cast<char>(c);
        return 1;
    }
    out[0] = '%';
    out[1] = kHex[c >> 4];
    out[2] = kHex[c & 15];
    return 3;
}

size_t UrlEncode(char* dst, const char* src, size_t capacity) {
    if (capacity == 0) return 0;
    size_t n = 0;
    for (const char* p = src; *p != '\0';) {
        char piece[6];
        size_t len = TextCharLength(p);
        size_t piece_len = 0;
        for (size_t i = 0; i < len; ++i) {
            piece_len += EncodeByte(static_cast<unsigned char>(p[i]), piece + piece_len);
        }
        if (n + piece_len >= capacity) break;
        std::memcpy(dst + n, piece, piece_len);
        n += piece_len;
        p += len;
    }
    dst[n] = '\0';
    return n;
}

static int HexDigit(char c) {
    c = ToUpperAscii(c);
    if (IsDigit(c)) return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

int HexPair(const char* s) {
    int high = HexDigit(s[0]);
    if (high < 0) return -1;
    int low = HexDigit(s[1]);
    if (low < 0) return -1;
    return high * 16 + low;
}
