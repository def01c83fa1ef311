#include "base/text/text_search.h"
#include "mail/mime/mime_internal.h"
#include "mail/mime/mime_parser.h"
#include "mail/mime/mime_state.h"

#include <cstring>

namespace {

constexpr int kTokenSize = 80;

struct PartialTokens {
    int number = 0;
    int total = 0;
    bool hasNumber = false;
    bool hasTotal = false;
    char id[kTokenSize] = "";
};

PartialTokens read_tokens(const char* p) {
    PartialTokens t;
    char token[kTokenSize];
    while (*p) {
        while (*p == ';' || *p == ' ') ++p;
        size_t n = 0;
        for (; *p && *p != ';' && *p != ' '; ++p) {
            if (n + 1 < sizeof token) token[n++] = *p;
        }
        token[n] = '\0';
        if (mime_starts_no_case(token, "number=")) {
            t.number = ParseInt(token + 7);
            t.hasNumber = true;
        } else if (mime_starts_no_case(token, "total=")) {
            t.total = ParseInt(token + 6);
            t.hasTotal = true;
        } else if (mime_starts_no_case(token, "id=")) {
            strcpy(t.id, SkipBlanks(token + 3));
        }
    }
    return t;
}

} // namespace

void partial_parameters(Connection& c, const char* parameters) {
    MimeState& m = c.mime;
    const PartialTokens t = read_tokens(parameters ? parameters : "");
    if (m.dividedPhase == 0) {
        m.partNumber = t.number;
        m.partTotal = t.total;
        memcpy(m.partialId, t.id, sizeof m.partialId);
        if (t.number == 1) m.dividedPhase = 1;
        return;
    }
    if (m.dividedPhase != 3) return;
    if (!t.hasNumber || t.number != m.partNumber || strcmp(t.id, m.partialId) != 0) return;
    // Only the last part has to carry the total.
    if (t.hasTotal && m.partTotal == 0) m.partTotal = t.total;
    m.dividedPhase = t.number == m.partTotal ? 5 : 4;
}
