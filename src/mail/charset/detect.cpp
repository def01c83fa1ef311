#include "mail/charset/detect.h"

#include <cstdint>
#include <cstring>

#include "mail/charset/sjis.h"

namespace {

constexpr bool is_euc_byte(unsigned c) {
    return c >= 0xA1 && c <= 0xFE;
}

constexpr unsigned char kEsc = 0x1B;

enum class Shift { Ascii, TwoByte, Kana };

// True when all eight bytes at p are below 0x80.
inline bool ascii8(const unsigned char* p) {
    std::uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return (v & 0x8080808080808080ULL) == 0;
}

// Recognises the escape at p (left bytes available); returns false when p
// does not start one of the five sequences the mail code knows.
inline bool read_escape(const unsigned char* p, int left, Shift& shift) {
    if (left < 3 || p[0] != kEsc) return false;
    if (p[1] == '$') {
        if (p[2] != '@' && p[2] != 'B') return false;
        shift = Shift::TwoByte;
        return true;
    }
    if (p[1] != '(') return false;
    if (p[2] == 'B' || p[2] == 'J') {
        shift = Shift::Ascii;
    } else if (p[2] == 'I') {
        shift = Shift::Kana;
    } else {
        return false;
    }
    return true;
}

inline void put_sjis(unsigned char* out, unsigned j1, unsigned j2) {
    const std::uint16_t s =
        jis_to_sjis(static_cast<unsigned char>(j1), static_cast<unsigned char>(j2));
    out[0] = static_cast<unsigned char>(s >> 8);
    out[1] = static_cast<unsigned char>(s);
}

} // namespace

int detect_japanese_code(const char* text, int len) {
    if (!text || len < 2) return 0;
    auto* p = reinterpret_cast<const unsigned char*>(text);
    int result = 0;
    int i = 0;
    while (i + 1 < len) {
        // Bytes below 0x81 are neither lead bytes nor EUC bytes: skip them in bulk.
        if (i + 8 <= len && ascii8(p + i)) {
            i += 8;
            continue;
        }
        if (is_sjis_lead(p[i]) && is_sjis_trail(p[i + 1])) {
            if (p[i] < 0xA1 || p[i + 1] < 0xA1) return 1;
            result = 1;
            ++i;
        }
        if (is_euc_byte(p[i])) {
            ++i;
            if (i >= len) break;
            if (!is_euc_byte(p[i])) return 1;
            result = 2;
        }
        ++i;
    }
    return result;
}

int convert_to_sjis(char* buf, int len, int mode) {
    if (!buf) return 0;
    if (len <= 0) {
        buf[0] = '\0';
        return 0;
    }
    if (mode == kCodeDetect) mode = detect_japanese_code(buf, len);
    const bool euc = mode == kCodeEuc;
    auto* p = reinterpret_cast<unsigned char*>(buf);
    Shift shift = Shift::Ascii;
    int r = 0;
    int w = 0;
    while (r < len) {
        if (p[r] == kEsc && read_escape(p + r, len - r, shift)) {
            r += 3;
            continue;
        }
        if (shift == Shift::TwoByte) {
            // Pairs until the next escape; a lone last byte falls through and is copied.
            while (len - r >= 2) {
                const unsigned a = p[r];
                if (a == kEsc && read_escape(p + r, len - r, shift)) {
                    r += 3;
                    break;
                }
                const unsigned b = p[r + 1];
                put_sjis(p + w, a, b);
                r += 2;
                w += 2;
            }
            if (shift == Shift::TwoByte && len - r == 1) p[w++] = p[r++];
            continue;
        }
        if (!euc && shift == Shift::Ascii) {
            // Plain bytes up to the next ESC are copied unchanged.
            const void* esc = std::memchr(p + r + 1, kEsc, static_cast<std::size_t>(len - r - 1));
            const int end =
                esc ? static_cast<int>(static_cast<const unsigned char*>(esc) - p) : len;
            if (w != r) std::memmove(p + w, p + r, static_cast<std::size_t>(end - r));
            w += end - r;
            r = end;
            continue;
        }
        if (euc && shift == Shift::Ascii) {
            while (r < len) {
                if (w == r && r + 8 <= len && ascii8(p + r)) {
                    // Nothing to move and no ESC test needed unless one is present.
                    std::uint64_t v;
                    std::memcpy(&v, p + r, sizeof v);
                    const std::uint64_t x = v ^ 0x1B1B1B1B1B1B1B1BULL;
                    if (((x - 0x0101010101010101ULL) & ~x & 0x8080808080808080ULL) == 0) {
                        r += 8;
                        w += 8;
                        continue;
                    }
                }
                const unsigned c = p[r];
                if (c == kEsc && read_escape(p + r, len - r, shift)) {
                    r += 3;
                    if (shift != Shift::Ascii) break;
                    continue;
                }
                if (is_euc_byte(c) && r + 1 < len && is_euc_byte(p[r + 1])) {
                    put_sjis(p + w, c - 0x80, p[r + 1] - 0x80u);
                    r += 2;
                    w += 2;
                } else {
                    p[w++] = static_cast<unsigned char>(c);
                    ++r;
                }
            }
            continue;
        }
        // Katakana shift: rare enough for a plain byte step.
        const unsigned c = p[r];
        if (euc && is_euc_byte(c) && r + 1 < len && is_euc_byte(p[r + 1])) {
            put_sjis(p + w, c - 0x80, p[r + 1] - 0x80u);
            r += 2;
            w += 2;
        } else {
            p[w++] = static_cast<unsigned char>(c + 0x80);
            ++r;
        }
    }
    p[w] = '\0';
    return w;
}

int euc_to_sjis(char* dst, const char* src, int len) {
    if (!dst) return 0;
    int w = 0;
    if (src && len > 0) {
        auto* s = reinterpret_cast<const unsigned char*>(src);
        auto* d = reinterpret_cast<unsigned char*>(dst);
        int r = 0;
        while (r < len) {
            if (r + 8 <= len && ascii8(s + r)) {
                std::memcpy(d + w, s + r, 8);
                r += 8;
                w += 8;
                continue;
            }
            const unsigned c = s[r];
            if (is_euc_byte(c) && r + 1 < len && is_euc_byte(s[r + 1])) {
                put_sjis(d + w, c - 0x80, s[r + 1] - 0x80u);
                r += 2;
                w += 2;
            } else {
                d[w++] = static_cast<unsigned char>(c);
                ++r;
            }
        }
    }
    dst[w] = '\0';
    return w;
}
