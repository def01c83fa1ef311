#include "base/text/path_part.h"

#include "base/text/sjis_pair.h"

static bool IsFolderSeparator(char c) {
    return c == '\\' || c == '/';
}

// The last byte equal to target after the last byte of resets, or null.
static const char* LastAfter(const char* path, bool (*is_target)(char), bool (*is_reset)(char)) {
    const char* found = nullptr;
    for (const char* p = path; *p != '\0';) {
        if (SjisPairAt(p)) {
            p += 2;
            continue;
        }
        if (is_reset(*p)) {
            found = nullptr;
        } else if (is_target(*p)) {
            found = p;
        }
        ++p;
    }
    return found;
}

static bool IsDot(char c) {
    return c == '.';
}
static bool IsNameEnd(char c) {
    return IsFolderSeparator(c) || c == ':';
}
static bool Never(char) {
    return false;
}

int StripExtension(char* path) {
    char* dot = const_cast<char*>(LastAfter(path, IsDot, IsFolderSeparator));
    if (dot == nullptr) return 0;
    *dot = '\0';
    return 1;
}

const char* Extension(const char* path) {
    const char* dot = LastAfter(path, IsDot, IsNameEnd);
    if (dot != nullptr) return dot + 1;
    while (*path != '\0') ++path;
    return path;
}

const char* FileNamePart(const char* path) {
    const char* end = LastAfter(path, IsNameEnd, Never);
    return end == nullptr ? path : end + 1;
}

int FolderPart(char* path) {
    char* separator = const_cast<char*>(LastAfter(path, IsFolderSeparator, Never));
    if (separator == nullptr) return 0;
    *separator = '\0';
    return 1;
}
