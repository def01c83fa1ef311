#include "base/charset/foreign_charset.h"
#include "base/charset/sjis.h"
#include "base/text/path_part.h"
#include "mail/mime/mime_internal.h"
#include "mail/mime/mime_parser.h"
#include "mail/mime/mime_state.h"
#include "page/output/output_text.h"

#include <cstring>

namespace {

constexpr int kTokenSize = 80;

const char* skip_blanks(const char* p) {
    while (*p == ' ' || *p == '\t') ++p;
    return p;
}

const char* take_token(char* dst, const char* p, const char* stops) {
    size_t w = 0;
    for (; *p && !strchr(stops, *p); ++p) {
        if (w + 1 < kTokenSize) dst[w++] = *p;
    }
    dst[w] = '\0';
    return p;
}

// Markup for the page only: the text download gets none.
void write_markup(Connection& c, const char* markup) {
    if (c.state.load() != PageState::TextWait) OutputText(c, markup, 0);
}

void remember_charset(Connection& c, const char* parameters) {
    char charset[kCharsetNameSize];
    if (mime_find_parameter(parameters, "charset", charset, sizeof charset) &&
        is_foreign_charset(charset)) {
        memcpy(c.mime.textCharset, charset, sizeof c.mime.textCharset);
    }
}

// The parameter text begins with charset and its value is exactly euc-jp.
bool first_parameter_is_euc(const char* parameters) {
    char name[16], value[16];
    if (!mime_next_parameter(parameters, name, sizeof name, value, sizeof value)) return false;
    return mime_equal_no_case(name, "charset") && mime_equal_no_case(value, "euc-jp");
}

void html_part(Connection& c, AttachmentEntry* slot) {
    c.mime.contentClass = kClassHtml;
    if (!mime_retrieving(c)) return;
    if (slot) kMimePartPage.openPartFile(c);
    write_markup(c, "</pre>");
}

} // namespace

bool is_html_name(const char* name) {
    if (!name) return false;
    const char* dot = strrchr(name, '.');
    return dot && (mime_equal_no_case(dot + 1, "htm") || mime_equal_no_case(dot + 1, "html"));
}

void analyse_content_type(Connection& c, const char* value) {
    MimeState& m = c.mime;
    char copy[kHeaderFieldSize];
    sjis_copy(copy, value, sizeof copy);
    char type[kTokenSize], subtype[kTokenSize];
    const char* p = take_token(type, skip_blanks(copy), " \t/;");
    if (*p == '/') ++p;
    p = take_token(subtype, p, " \t;");
    char* parameters = copy + (p - copy);
    const bool has_parameters = *skip_blanks(parameters) != '\0';
    const uint16_t previous = m.contentClass;
    m.textCharset[0] = '\0';
    m.foreignCarryLength = 0;
    AttachmentEntry* slot = mime_current_slot(c);

    // No Content-Type at all is plain text.
    if (!type[0] || mime_equal_no_case(type, "text")) {
        if (mime_equal_no_case(subtype, "html")) {
            if (slot) mime_take_file_name(c, *slot, parameters);
            remember_charset(c, parameters);
            html_part(c, slot);
            return;
        }
        m.contentClass = previous == kClassAlternative ? kClassTextInAlternative : kClassText;
        if (first_parameter_is_euc(parameters)) m.transferMode = kTransferEucJp;
        remember_charset(c, parameters);
        return;
    }
    if (mime_equal_no_case(type, "image")) {
        m.contentClass = kClassImage;
        if (!slot) return;
        mime_take_file_name(c, *slot, parameters);
        if (m.inPartHeader) kMimePartPage.openPartFile(c);
        return;
    }
    if (mime_equal_no_case(type, "multipart")) {
        m.contentClass =
            mime_equal_no_case(subtype, "alternative") ? kClassAlternative : kClassMultipart;
        if (mime_equal_no_case(subtype, "report")) {
            // The report-type parameter comes before the boundary.
            while (*parameters == ';' || *parameters == ' ') ++parameters;
            while (*parameters && *parameters != ';' && *parameters != ' ') ++parameters;
        }
        if (m.boundaryCount < kMaxBoundaries && has_parameters) {
            take_parameter(c, m.boundaries[m.boundaryCount], parameters, kHeaderFieldSize);
            ++m.boundaryCount;
        }
        return;
    }
    m.contentClass = kClassAttachment;
    if (!slot) return;
    if (!mime_equal_no_case(type, "message")) {
        mime_take_file_name(c, *slot, parameters);
    } else if (!mime_equal_no_case(subtype, "partial")) {
        m.contentClass = kClassText; // an enclosed message reads as text
        return;
    } else {
        partial_parameters(c, parameters);
        return;
    }
    if (is_html_name(slot->file_name)) {
        // Shown cleaned like text/html, so it needs its file as well.
        html_part(c, slot);
        return;
    }
    if (m.inPartHeader) kMimePartPage.openPartFile(c);
}
