// Bounded, Shift_JIS-aware copies. A two-byte character is copied whole or not at
// all, and its second byte is never taken for a delimiter or a line end.
#pragma once
#include <cstddef>

// Copies src up to the first byte that occurs in delimiters (not copied) or the
// end, at most capacity - 1 bytes, then a NUL (nothing is written when capacity is
// 0). A token longer than that is cut and its rest skipped, so the result stays in
// step with the delimiters. Returns the position after the delimiter, or the end.
const char* CopyUntil(char* dst, const char* src, const char* delimiters, size_t capacity);
template <size_t N> const char* CopyUntil(char (&dst)[N], const char* src, const char* delimiters) {
    return CopyUntil(dst, src, delimiters, N);
}

// Copies one line of src into dst: carriage returns are dropped, the line feed
// ends the line and is not copied; at most capacity - 1 bytes, then a NUL.
// Returns the position after the line feed or the end of the text; when the line
// did not fit, the first byte not copied (the next call continues the line).
// capacity must be at least 3 so that every call moves forward.
const char* ReadLine(char* dst, const char* src, size_t capacity);
template <size_t N> const char* ReadLine(char (&dst)[N], const char* src) {
    return ReadLine(dst, src, N);
}

// Splits urlencoded field text "name=value": copies the name into name
// (capacity bytes with its NUL) and returns the value, or null when there is
// no "=" or the name does not fit.
const char* SplitField(const char* text, char* name, size_t capacity);
