// Text the compose form posts holds Shift_JIS and, for every character
// Shift_JIS cannot hold, the browser's "&#NNNN;" reference. Such text leaves
// as UTF-8, with the references turned back into their characters.
#pragma once
#include <cstddef>
#include <string>

// The code point of a well-formed reference at text ("&#252;", "&#x1F389;"),
// with its length in *length; 0 when text starts no such reference.
char32_t character_reference_at(const char* text, size_t n, size_t* length);

// True when text holds at least one well-formed reference.
bool has_character_references(const char* text, size_t n);
inline bool has_character_references(const char* text) {
    return has_character_references(text, std::char_traits<char>::length(text));
}

// The Shift_JIS text (Windows code page 932) as UTF-8, references decoded.
// A byte that is no character there becomes U+FFFD.
std::string sjis_to_utf8(const char* text, size_t n);
