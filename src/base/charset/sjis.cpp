#include "base/charset/sjis.h"

int has_sjis(const char* text) {
    if (!text) return 0;
    for (auto* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
        if (is_sjis_lead(*p)) return 1;
    }
    return 0;
}

int sjis_find(const char* text, char c) {
    if (!text || c == '\0') return -1;
    auto* s = reinterpret_cast<const unsigned char*>(text);
    const auto want = static_cast<unsigned char>(c);
    for (int i = 0; s[i];) {
        if (s[i] == want) return i;
        i += (is_sjis_lead(s[i]) && s[i + 1]) ? 2 : 1;
    }
    return -1;
}

int sjis_copy(char* dst, const char* src, int size) {
    if (!dst || size <= 0) return 0;
    int w = 0;
    if (src) {
        auto* s = reinterpret_cast<const unsigned char*>(src);
        const int room = size - 1;
        while (s[w] && w < room) {
            if (is_sjis_lead(s[w])) {
                if (!s[w + 1] || w + 2 > room) break;
                dst[w] = static_cast<char>(s[w]);
                ++w;
            }
            dst[w] = static_cast<char>(s[w]);
            ++w;
        }
    }
    dst[w] = '\0';
    return w;
}
