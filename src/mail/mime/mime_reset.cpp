#include "mail/mime/mime_internal.h"
#include "mail/mime/mime_parser.h"
#include "mail/mime/mime_state.h"

#include <cstring>

void mime_reset(Connection& c) {
    memset(&c.mime, 0, sizeof c.mime);
}

bool mime_retrieving(const Connection& c) {
    return c.workerResult.load() == kRetrievingStep;
}

ForeignMode mime_foreign_mode(const Connection& c) {
    return c.state.load() == PageState::TextWait ? ForeignMode::Geta : ForeignMode::Ncr;
}

AttachmentEntry* mime_current_slot(Connection& c) {
    if (!c.user || !mime_retrieving(c)) return nullptr;
    const int count = c.user->runtime.attachmentCount.load();
    if (count < 0 || count >= kMaxAttachments) return nullptr;
    return &c.user->runtime.attachments[count];
}

static char lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

bool mime_starts_no_case(const char* s, const char* prefix) {
    for (; *prefix; ++s, ++prefix) {
        if (lower(*s) != lower(*prefix)) return false;
    }
    return true;
}

bool mime_equal_no_case(const char* a, const char* b) {
    return mime_starts_no_case(a, b) && a[strlen(b)] == '\0';
}

void mime_trim_cut_reference(char* s) {
    char* amp = strrchr(s, '&');
    if (!amp || amp[1] != '#') return;
    for (const char* p = amp + 2; *p; ++p) {
        if (*p < '0' || *p > '9') return;
    }
    *amp = '\0';
}

int mime_append_line(char* block, int len, const char* text) {
    const size_t n = strlen(text);
    if (len < 0 || static_cast<size_t>(len) + n + 1 >= static_cast<size_t>(kHeaderBlockSize)) {
        return -1;
    }
    char* d = block + len;
    for (size_t i = 0; i < n; ++i) d[i] = (text[i] == '\r' || text[i] == '\n') ? ' ' : text[i];
    d[n] = '\n';
    d[n + 1] = '\0';
    return len + static_cast<int>(n) + 1;
}
