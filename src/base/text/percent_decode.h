// Decoding of %XX escapes in URLs and form values.
#pragma once
#include <cstddef>

// "%" and two hex digits become the byte; a "%" without them is copied. At
// most capacity - 1 bytes and a NUL are written.
void PercentDecode(char* dst, const char* src, size_t capacity);
// Like PercentDecode, but a run of three escapes that forms a three-byte
// UTF-8 character becomes its two-byte Shift_JIS code.
void PercentDecodeUtf8(char* dst, const char* src, size_t capacity);
