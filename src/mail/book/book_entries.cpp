#include "mail/book/book_entries.h"

namespace {

bool IsSeparator(char c) {
    return c == ',' || c == '\r' || c == '\n';
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

} // namespace

void for_each_book_entry(std::string_view text,
                         const std::function<void(const char* entry, size_t length)>& f) {
    size_t start = 0;
    for (size_t i = 0; i <= text.size(); i++) {
        if (i < text.size() && !IsSeparator(text[i])) continue;
        if (i > start) f(text.data() + start, i - start);
        start = i + 1;
    }
}

int count_book_entries(std::string_view text) {
    int n = 0;
    for_each_book_entry(text, [&n](const char*, size_t) { n++; });
    return n;
}

BookEntryParts book_entry_parts(const char* entry, size_t length) {
    BookEntryParts p{entry, 0, entry, 0};
    size_t open = 0;
    while (open < length && entry[open] != '<') open++;
    size_t from;
    if (open < length) {
        size_t end = open;
        while (end > 0 && IsBlank(entry[end - 1])) end--;
        p.nameLength = end;
        from = open + 1;
    } else {
        from = 0;
        while (from < length && IsBlank(entry[from])) from++;
    }
    size_t to = from;
    while (to < length && entry[to] != ' ' && entry[to] != '>') to++;
    p.address = entry + from;
    p.addressLength = to - from;
    return p;
}
