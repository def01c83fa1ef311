// Reading an address-list text: the one format of the personal and the
// shared address book. Entries are separated by ","; each is a name, a blank
// and the mail address between "<" and ">", or just the bracketed address.
// No escaping exists, which is why names may not hold "<>(),@".
#pragma once
#include <cstddef>
#include <functional>
#include <string_view>

// Calls f with each entry of text, in stored order. Entries end at ",", CR or
// LF (the shared book's editor writes line breaks too); empty entries are
// skipped. The entry is not NUL-terminated: length bytes at entry are it.
void for_each_book_entry(std::string_view text,
                         const std::function<void(const char* entry, size_t length)>& f);

// Name and address of one entry, as views into it (nothing is copied).
struct BookEntryParts {
    const char* name;
    size_t nameLength;
    const char* address;
    size_t addressLength;
};

// The name is the text before the first "<" with trailing blanks and tabs
// removed; the address is the text after that "<" up to the next blank or
// ">". An entry without "<" is taken as a bare address: empty name, the
// address from its first non-blank up to a blank or ">". Every delimiter
// here is below 0x40, so no view ends inside a Shift_JIS pair.
BookEntryParts book_entry_parts(const char* entry, size_t length);

// Number of entries for_each_book_entry would yield.
int count_book_entries(std::string_view text);
