#include "mail/book/book_internal.h"

#include "base/charset/sjis.h"
#include "page/output/output_text.h"
#include <cstring>

namespace book {

void OutputEscaped(Connection& c, const char* text, size_t n) {
    // Room for the longest entity after any byte, and a NUL.
    char piece[1024];
    size_t fill = 0;
    auto flush = [&] {
        piece[fill] = '\0';
        if (fill) OutputText(c, piece, 0);
        fill = 0;
    };
    auto add = [&](const char* s, size_t len) {
        if (fill + len >= sizeof piece) flush();
        memcpy(piece + fill, s, len);
        fill += len;
    };
    for (size_t i = 0; i < n; i++) {
        const auto b = static_cast<unsigned char>(text[i]);
        if (is_sjis_lead(b)) {
            if (i + 1 < n && is_sjis_trail(static_cast<unsigned char>(text[i + 1]))) {
                add(text + i, 2);
                i++;
            }
            continue;
        }
        switch (b) {
        case '<':
            add("&lt;", 4);
            break;
        case '>':
            add("&gt;", 4);
            break;
        case '&':
            add("&amp;", 5);
            break;
        case '"':
            add("&quot;", 6);
            break;
        case '\t':
        case '\r':
        case '\n':
            add(text + i, 1);
            break;
        default:
            if (b >= 0x20 && b != 0x7F) add(text + i, 1);
            break;
        }
    }
    flush();
}

void OutputEscaped(Connection& c, const char* text) {
    OutputEscaped(c, text, strlen(text));
}

} // namespace book
