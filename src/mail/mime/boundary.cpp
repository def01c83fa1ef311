#include "mail/mime/mime_internal.h"
#include "mail/mime/mime_parser.h"
#include "mail/mime/mime_state.h"

#include <cstring>

namespace {

// The next part's header begins; nothing of the part that ended carries over.
void begin_part(MimeState& m, bool opening) {
    m.inPartHeader = 1;
    m.openingBoundary = opening ? 1 : 0;
    m.transferMode = kTransferNone;
    m.partHeaderBlock[0] = '\0';
    m.contentType[0] = '\0';
    m.base64Carry[0] = '\0';
    m.base64CarryLength = 0;
    m.textCharset[0] = '\0';
    m.foreignCarryLength = 0;
}

} // namespace

bool is_boundary_line(Connection& c, const char* line) {
    MimeState& m = c.mime;
    if (!line || line[0] != '-' || line[1] != '-' || m.boundaryCount == 0) return false;
    const char* text = line + 2;
    const int count = m.boundaryCount < kMaxBoundaries ? m.boundaryCount : kMaxBoundaries;
    for (int i = 0; i < count; ++i) {
        const char* boundary = m.boundaries[i];
        const size_t n = strnlen(boundary, kHeaderFieldSize - 1);
        // An empty boundary would take every "--" line.
        if (n == 0 || strncmp(text, boundary, n) != 0) continue;
        const bool opening = text[n] != '-';
        m.partSeparatorPending = 0;
        if (opening && c.state.load() != PageState::TextWait && m.contentClass != kClassMultipart &&
            m.contentClass != kClassAlternative && m.contentClass != kClassTextInAlternative) {
            m.partSeparatorPending = 1;
        }
        begin_part(m, opening);
        return true;
    }
    return false;
}
