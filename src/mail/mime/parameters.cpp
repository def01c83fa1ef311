#include "base/charset/detect.h"
#include "base/charset/header_text.h"
#include "base/charset/sjis.h"
#include "base/text/path_part.h"
#include "mail/mime/mime_internal.h"
#include "mail/mime/mime_parser.h"
#include "mail/mime/mime_state.h"

#include <cstdio>
#include <cstring>

namespace {

// Longest parameter name and value the scan reads.
constexpr int kParameterSize = 260;

int char_length(const char* p) {
    const auto c = static_cast<unsigned char>(p[0]);
    return (is_sjis_lead(c) && is_sjis_trail(static_cast<unsigned char>(p[1]))) ? 2 : 1;
}

// Copies src up to the first byte of stops (or the end) into dst, at most
// size - 1 bytes and never half a two-byte character. Returns the stop.
const char* copy_until(char* dst, size_t size, const char* src, const char* stops) {
    size_t w = 0;
    while (*src && !strchr(stops, *src)) {
        const int n = char_length(src);
        if (w + static_cast<size_t>(n) < size) {
            memcpy(dst + w, src, static_cast<size_t>(n));
            w += static_cast<size_t>(n);
        }
        src += n;
    }
    if (size > 0) dst[w] = '\0';
    return src;
}

void no_name(Connection& c, char* dst, size_t size) {
    const int count = c.user ? c.user->runtime.attachmentCount.load() : 0;
    snprintf(dst, size, "noname%d.dat", count);
}

} // namespace

void take_parameter(Connection& c, char* dst, char* parameters, size_t size) {
    if (!dst || size == 0) return;
    if (!parameters) {
        no_name(c, dst, size);
        return;
    }
    convert_to_sjis(parameters, static_cast<int>(strlen(parameters)),
                    c.mime.sjisParameters ? kCodeSjis : kCodeDetect);
    const char* p = parameters;
    while (*p && !mime_starts_no_case(p, "name") && !mime_starts_no_case(p, "boundary")) {
        p += char_length(p);
    }
    char name[kParameterSize + 1];
    p = copy_until(name, sizeof name, p, "=\"");
    if (!name[0] || !(mime_equal_no_case(name, "name") || mime_equal_no_case(name, "boundary"))) {
        no_name(c, dst, size);
        return;
    }
    if (*p == '=') ++p;
    if (*p == '"') ++p;
    char value[kParameterSize + 1];
    copy_until(value, sizeof value, p, "\"\r\n ;");
    copy_header_text(dst, value, static_cast<int>(size < 0x7FFFFFFF ? size : 0x7FFFFFFF));
}

void mime_take_file_name(Connection& c, AttachmentEntry& slot, const char* parameters) {
    char work[kHeaderFieldSize];
    sjis_copy(work, parameters, sizeof work);
    char taken[sizeof slot.file_name];
    take_parameter(c, taken, work, sizeof taken);
    const char* base = FileNamePart(taken);
    if (!base[0] || strcmp(base, ".") == 0 || strcmp(base, "..") == 0) {
        no_name(c, slot.file_name, sizeof slot.file_name);
        return;
    }
    sjis_copy(slot.file_name, base, sizeof slot.file_name);
}

const char* mime_next_parameter(const char* p, char* name, size_t name_size, char* value,
                                size_t value_size) {
    if (name_size) name[0] = '\0';
    if (value_size) value[0] = '\0';
    while (*p == ';' || *p == ' ' || *p == '\t') ++p;
    if (!*p) return nullptr;
    p = copy_until(name, name_size, p, "=; \t");
    while (*p == ' ' || *p == '\t') ++p;
    if (*p != '=') return p;
    ++p;
    while (*p == ' ' || *p == '\t') ++p;
    if (*p == '"') {
        p = copy_until(value, value_size, p + 1, "\"");
        if (*p == '"') ++p;
    } else {
        p = copy_until(value, value_size, p, "; \t");
    }
    return p;
}

bool mime_find_parameter(const char* parameters, const char* name, char* value, size_t value_size) {
    char found[kParameterSize + 1];
    const char* p = parameters;
    while (p && *p) {
        p = mime_next_parameter(p, found, sizeof found, value, value_size);
        if (p && mime_equal_no_case(found, name)) return true;
    }
    if (value_size) value[0] = '\0';
    return false;
}
