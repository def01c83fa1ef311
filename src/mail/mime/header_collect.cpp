#include "base/charset/encoded_words.h"
#include "base/text/char_class.h"
#include "mail/mime/mime_internal.h"
#include "mail/mime/mime_parser.h"
#include "mail/mime/mime_state.h"

#include <cstring>

bool is_new_field(const char* line) {
    if (!line || !IsAlpha(static_cast<unsigned char>(line[0]))) return false;
    // A ':' inside ISO-2022-JP two-byte text is half of a kanji, not a colon.
    bool two_byte = false;
    for (const char* p = line; *p; ++p) {
        if (p[0] == '\x1B' && p[1] == '$' && p[2] == 'B') {
            two_byte = true;
        } else if (p[0] == '\x1B' && p[1] == '(' && p[2] == 'B') {
            two_byte = false;
        } else if (*p == ':' && !two_byte) {
            return true;
        }
    }
    return false;
}

void collect_header_line(Connection& c, const char* line) {
    MimeState& m = c.mime;
    char decoded[kDecodedHeaderSize];
    decode_header_line(c, decoded, sizeof decoded, line);
    for (char* p = decoded; *p; ++p) {
        if (*p == '\t') *p = ' ';
    }
    const int fill = static_cast<int>(strnlen(m.headerBlock, kHeaderBlockSize - 1));
    m.headerBlock[fill] = '\0';
    // An emptied block starts counting afresh, whoever emptied it.
    const int length = fill == 0 ? 0 : m.headerBlockLength;

    // A continuation joins its field without a blank unless it starts with
    // two: folded encoded words must meet seamlessly.
    const char* rest = decoded;
    bool joins = false;
    bool blank = false;
    if (fill > 0 && !is_new_field(decoded)) {
        joins = m.headerBlock[fill - 1] == '\n';
        blank = decoded[0] != '\0' && decoded[1] == ' ' && length < kHeaderBlockSize;
        while (*rest == ' ') ++rest;
    }
    const int rest_len = static_cast<int>(strlen(rest));
    const int grown = length - (joins ? 1 : 0) + (blank ? 1 : 0) + rest_len + 1;
    m.headerBlockLength = static_cast<uint16_t>(grown > 0xFFFF ? 0xFFFF : grown);
    int at = joins ? fill - 1 : fill;
    if (grown >= kHeaderBlockSize || at + (blank ? 1 : 0) + rest_len + 1 >= kHeaderBlockSize) {
        return;
    }
    if (blank) m.headerBlock[at++] = ' ';
    mime_append_line(m.headerBlock, at, rest);
}

void collect_top_line(Connection& c, const char* line) {
    MimeState& m = c.mime;
    if ((line[0] == '.' && line[1] == '\0') || line[0] == '\0') {
        if (m.headerPending || line[0] == '\0') parse_header_block(c, m.headerBlock);
        m.headerPending = 0;
        return;
    }
    // POP3 doubles a leading dot in header lines too.
    collect_header_line(c, line[0] == '.' ? line + 1 : line);
    m.headerPending = 1;
}
