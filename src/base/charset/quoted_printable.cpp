#include "base/charset/quoted_printable.h"

int qp_decode_line(char* dst, const char* src, int len) {
    if (!dst) return 0;
    if (!src || len < 0) len = 0;
    int w = 0;
    int i = 0;
    while (len - i > 1) {
        if (src[i] == '=' && len - i >= 3) {
            const int hi = hex_digit_value(src[i + 1]);
            const int lo = hex_digit_value(src[i + 2]);
            if (hi >= 0 && lo >= 0) {
                dst[w++] = static_cast<char>(hi * 16 + lo);
                i += 3;
                continue;
            }
        }
        dst[w++] = src[i++];
    }
    if (i < len) {
        if (src[i] == '=') {
            dst[w] = '\0';
            return w;
        }
        dst[w++] = src[i];
    }
    dst[w++] = '\r';
    dst[w++] = '\n';
    dst[w] = '\0';
    return w;
}
