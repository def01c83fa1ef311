#include "base/text/blanks.h"

#include <cstring>

size_t Blanks(char* dst, unsigned browser_flags, int n, size_t capacity) {
    if (capacity == 0) return 0;
    const char* piece = (browser_flags & kBlanksAsNbspFlags) != 0 ? "&nbsp;" : " ";
    size_t piece_len = std::strlen(piece);
    size_t len = 0;
    for (int i = 0; i < n && len + piece_len < capacity; ++i) {
        std::memcpy(dst + len, piece, piece_len);
        len += piece_len;
    }
    dst[len] = '\0';
    return len;
}
