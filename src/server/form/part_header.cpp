#include "server/form/part_header.h"
#include "base/text/header_token.h"
#include "base/text/path_part.h"
#include "base/text/percent_decode.h"
#include "base/text/text_copy.h"
#include "base/text/text_search.h"
#include "page/form_reading.h"
#include "server/form/upload_file.h"

namespace {

constexpr const char* kDelimiters = " \t;\n";

// Copies a parameter value, quoted or bare, and returns the text after it.
template <size_t N> const char* CopyValue(char (&dst)[N], const char* value) {
    if (*value == '"') return CopyUntil(dst, value + 1, "\"\n");
    return CopyUntil(dst, value, kDelimiters);
}

void TakeFileName(Connection& c, const char* value) {
    // Some browsers send the whole client-side path: read all of it before
    // keeping the last component.
    char path[kLineSize];
    CopyValue(path, value);
    if (c.uploadCount >= kMaxUploads) return;
    char* entry = c.uploadNames[c.uploadCount];
    const char* name = FileNamePart(path);
    if (c.browser & kBrowserMac) {
        PercentDecode(entry, name, kFieldSize);
    } else {
        CopyUntil(entry, name, "", kFieldSize);
    }
    // No file chosen: nothing is created and the entry is reused by the next
    // file part.
    if (entry[0] != '\0') OpenUpload(c);
}

} // namespace

void PartHeaderLine(Connection& c, const char* line) {
    const int nameLength = 20; // "Content-Disposition:"
    if (PrefixEqualNoCase(line, "Content-Disposition:", nameLength) != 0) return;
    HeaderToken kind = NextHeaderToken(line + nameLength, kDelimiters);
    if (!TokenIsNoCase(kind, "form-data")) return;
    HeaderToken name = NextHeaderToken(kind.rest, kDelimiters);
    if (name.length < 5 || PrefixEqualNoCase(name.start, "name=", 5) != 0) return;
    const char* rest = CopyValue(c.form.partName, name.start + 5);
    HeaderToken file = NextHeaderToken(rest, kDelimiters);
    if (file.length >= 9 && PrefixEqualNoCase(file.start, "filename=", 9) == 0) {
        TakeFileName(c, file.start + 9);
    }
}
