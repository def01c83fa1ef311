// Comparisons and searches on NUL-terminated byte strings.
#pragma once

// 0 when the first n bytes of a and b are equal ignoring ASCII case; 1 otherwise,
// also when either string ends before n bytes, n < 1 or either is null.
int PrefixEqualNoCase(const char* a, const char* b, int n);

// As PrefixEqualNoCase, comparing bytes exactly.
int PrefixEqual(const char* a, const char* b, int n);

// Index of the first c in s; -1 when absent, when s is null or empty, or when c is NUL.
// Bytes are examined one by one: a second byte of a Shift_JIS pair can match.
int FindChar(const char* s, char c);

// The last c in s, or null (also for a null s or a NUL c). Byte-wise like FindChar.
const char* FindLastChar(const char* s, char c);
inline char* FindLastChar(char* s, char c) {
    return const_cast<char*>(FindLastChar(static_cast<const char*>(s), c));
}

// First position of s that is neither a blank nor a tab (the NUL at worst).
const char* SkipBlanks(const char* s);
inline char* SkipBlanks(char* s) {
    return const_cast<char*>(SkipBlanks(static_cast<const char*>(s)));
}

// Reads blanks and tabs, an optional "-" and decimal digits. Returns the value,
// 0 when no digit follows; *end (when end is not null) receives the position after
// the last digit, or s itself when there is no digit. Values beyond the int range
// saturate at INT_MAX or INT_MIN; all digits of a long run are still consumed.
int ParseInt(const char* s, const char** end = nullptr);
