#include "base/text/markup_escape.h"

#include "base/text/ncr_length.h"

std::string MarkupEscape(const char* text) {
    std::string out;
    for (const char* p = text; *p; p++) {
        switch (*p) {
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '&':
            if (const int k = foreign_ncr_length(p); k > 0) {
                out.append(p, static_cast<size_t>(k));
                p += k - 1;
            } else {
                out += "&amp;";
            }
            break;
        default:
            out += *p;
        }
    }
    return out;
}
