#include "base/charset/encoded_words.h"
#include "mail/mime/mime_internal.h"
#include "mail/mime/mime_parser.h"
#include "mail/mime/mime_state.h"

#include <cstring>

void part_header_line(Connection& c, const char* line) {
    MimeState& m = c.mime;
    char* block = m.partHeaderBlock;
    const int fill = static_cast<int>(strnlen(block, kHeaderBlockSize - 1));
    block[fill] = '\0';
    if (!line || !line[0]) {
        // A part whose header is empty is still a part (plain text); the
        // empty line after a closing boundary ends no header.
        if (fill > 0 || m.openingBoundary) parse_header_block(c, block);
        m.inPartHeader = 0;
        m.openingBoundary = 0;
        return;
    }
    char decoded[kDecodedHeaderSize];
    decode_header_line(c, decoded, sizeof decoded, line);
    if (fill > 0 && block[fill - 1] == '\n' && !is_new_field(decoded)) {
        // A continuation loses its first character (the fold's blank).
        block[fill - 1] = '\0';
        if (mime_append_line(block, fill - 1, decoded[0] ? decoded + 1 : decoded) < 0) {
            block[fill - 1] = '\n';
        }
        return;
    }
    mime_append_line(block, fill, decoded);
}
