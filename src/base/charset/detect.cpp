#include "base/charset/detect.h"

#include <cstring>

#include "base/charset/jis_blocks.h"
#include "base/charset/sjis.h"

using jis_blocks::kJisBlock;
using jis_blocks::put_sjis;

namespace {

constexpr bool is_euc_byte(unsigned c) {
    return c >= 0xA1 && c <= 0xFE;
}

constexpr unsigned char kEsc = 0x1B;

enum class Shift { Ascii, TwoByte, Kana };

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

// Two-byte shift from r: pairs until an escape or fewer than two bytes.
inline void convert_jis_run(unsigned char* p, int len, int& r, int& w, Shift& shift) {
    while (len - r >= 2) {
        if (len - r >= kJisBlock && jis_blocks::pairs_to_sjis(p + r, p + w, 0)) {
            r += kJisBlock;
            w += kJisBlock;
            continue;
        }
        const unsigned a = p[r];
        if (a == kEsc && read_escape(p + r, len - r, shift)) {
            r += 3;
            return;
        }
        put_sjis(p + w, a, p[r + 1]);
        r += 2;
        w += 2;
    }
    if (len - r == 1) p[w++] = p[r++];
}

// ASCII shift of EUC-JP text from r: pairs convert, other bytes copy, until
// an escape leaves the ASCII shift.
inline void convert_euc_run(unsigned char* p, int len, int& r, int& w, Shift& shift) {
    while (r < len) {
        if (len - r >= kJisBlock) {
            if (jis_blocks::pairs_to_sjis(p + r, p + w, 0x80)) {
                r += kJisBlock;
                w += kJisBlock;
                continue;
            }
            if (w == r && jis_blocks::plain_ascii(p + r)) {
                r += kJisBlock;
                w += kJisBlock;
                continue;
            }
        }
        const unsigned c = p[r];
        if (c == kEsc && read_escape(p + r, len - r, shift)) {
            r += 3;
            if (shift != Shift::Ascii) return;
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
}

// ASCII shift of other text from r: bytes up to the next ESC stay as they are.
inline void copy_ascii_run(unsigned char* p, int len, int& r, int& w) {
    const void* esc = std::memchr(p + r + 1, kEsc, static_cast<std::size_t>(len - r - 1));
    const int end = esc ? static_cast<int>(static_cast<const unsigned char*>(esc) - p) : len;
    if (w != r) std::memmove(p + w, p + r, static_cast<std::size_t>(end - r));
    w += end - r;
    r = end;
}

} // namespace

int detect_japanese_code(const char* text, int len) {
    if (!text || len < 2) return 0;
    auto* p = reinterpret_cast<const unsigned char*>(text);
    int result = 0;
    int i = 0;
    while (i + 1 < len) {
        if (len - i >= kJisBlock) {
            // ASCII is neither lead nor EUC byte; pairs that can only be EUC-JP
            // each set the result to 2. Both leave i on a character boundary.
            const jis_blocks::Block kind = jis_blocks::classify(p + i);
            if (kind != jis_blocks::Block::Mixed) {
                if (kind == jis_blocks::Block::EucPairs) result = 2;
                i += kJisBlock;
                continue;
            }
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
        } else if (shift == Shift::TwoByte) {
            convert_jis_run(p, len, r, w, shift);
        } else if (shift == Shift::Ascii) {
            if (euc) {
                convert_euc_run(p, len, r, w, shift);
            } else {
                copy_ascii_run(p, len, r, w);
            }
        } else if (euc && is_euc_byte(p[r]) && r + 1 < len && is_euc_byte(p[r + 1])) {
            put_sjis(p + w, p[r] - 0x80u, p[r + 1] - 0x80u);
            r += 2;
            w += 2;
        } else { // katakana shift
            p[w++] = static_cast<unsigned char>(p[r++] + 0x80);
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
            if (len - r >= kJisBlock && jis_blocks::pairs_to_sjis(s + r, d + w, 0x80)) {
                r += kJisBlock;
                w += kJisBlock;
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
