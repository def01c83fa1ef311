#include "base/charset/header_text.h"

#include <cstdint>

#include "base/charset/detect.h"
#include "base/charset/kana.h"
#include "base/charset/sjis.h"

namespace {

constexpr unsigned char kShiftOut = 0x0E;
constexpr unsigned char kShiftIn = 0x0F;

// The half-width code the byte stands for in the current shift, or 0.
inline unsigned char kana_byte(unsigned char c, bool shifted) {
    if (shifted && c >= 0x21 && c <= 0x5F) return static_cast<unsigned char>(c + 0x80);
    return is_halfwidth_kana(c) ? c : 0;
}

} // namespace

int copy_header_text(char* dst, const char* src, int size) {
    if (!dst || size <= 0) return 0;
    int w = 0;
    if (src) {
        auto* s = reinterpret_cast<const unsigned char*>(src);
        auto* d = reinterpret_cast<unsigned char*>(dst);
        const int room = size - 1;
        bool shifted = false;
        int i = 0;
        while (s[i] && w < room) {
            const unsigned char c = s[i];
            if (c == kShiftOut || c == kShiftIn) {
                shifted = c == kShiftOut;
                ++i;
                continue;
            }
            if (const unsigned char k = kana_byte(c, shifted)) {
                if (room - w < 2) break;
                std::uint16_t code = kana_to_sjis(k);
                ++i;
                const unsigned char mark = s[i] ? kana_byte(s[i], shifted) : 0;
                if (mark == 0xDE && takes_voiced_mark(k)) {
                    code += 1;
                    ++i;
                } else if (mark == 0xDF && takes_semivoiced_mark(k)) {
                    code += 2;
                    ++i;
                }
                d[w++] = static_cast<unsigned char>(code >> 8);
                d[w++] = static_cast<unsigned char>(code);
                continue;
            }
            if (is_sjis_lead(c)) {
                if (!s[i + 1] || room - w < 2) break;
                d[w++] = c;
                d[w++] = s[i + 1];
                i += 2;
                continue;
            }
            d[w++] = c;
            ++i;
        }
    }
    dst[w] = '\0';
    return w;
}

int header_display_text(char* dst, const char* src, int size) {
    if (!dst || size <= 0) return 0;
    int n = sjis_copy(dst, src ? src : "", size);
    n = convert_to_sjis(dst, n, kCodeSjis);
    int w = 0;
    for (int i = 0; i < n; i++)
        if (dst[i] && dst[i] != '\x1B' && dst[i] != '\x0E' && dst[i] != '\x0F') dst[w++] = dst[i];
    dst[w] = '\0';
    return w;
}
