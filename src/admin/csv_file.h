// Files the administrator hands to the command line: bulk-registration CSV
// files and selection lists, read into Shift_JIS lines.
//
// Such files come from two worlds: older tools write Shift_JIS, today's
// spreadsheets write UTF-8 (often behind a byte-order mark). UTF-8 is
// recognised and converted; everything else is taken as Shift_JIS and kept
// byte for byte.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// Longest part of a line that is used, in Shift_JIS bytes.
constexpr size_t kCsvLineBytes = 299;
// Larger files are refused rather than read into memory.
constexpr size_t kCsvFileBytes = 16u << 20;

struct CsvText {
    // Shift_JIS; CR dropped, LF removed, cut at a NUL and to kCsvLineBytes
    // without splitting a two-byte character. Empty lines are kept (what an
    // empty line means is the caller's rule); a final LF adds no line.
    std::vector<std::string> lines;
    // One entry per line: it held a NUL, or a CR other than one just before
    // its line end. What such a line shows is not what the file holds, and
    // its values must not reach a mail server's command line.
    std::vector<bool> broken;
    bool utf8 = false; // the file was UTF-8 and has been converted
};

// True when bytes start with the UTF-8 byte-order mark, or are well-formed
// UTF-8 (no overlong forms, no surrogates) holding at least one multi-byte
// character. Pure ASCII is false: it needs no conversion either way.
bool looks_like_utf8(std::string_view bytes);

// Splits file bytes into lines. Returns 0, or the 1-based number of the
// first UTF-8 line that is malformed or holds a character Shift_JIS cannot
// represent (text_r is then incomplete).
size_t decode_csv_text(std::string_view bytes, CsvText& text_r);

// Reads and decodes a regular file. Prints the reason (UTF-8, stderr) and
// returns false when it cannot be read, is too large or does not convert.
bool read_csv_file(const std::string& path, CsvText& text_r);

// The columns of one line: "," separates except between double quotes;
// the quote characters themselves are never copied. Both delimiters lie
// below 0x40, so a Shift_JIS second byte is never taken for one.
std::vector<std::string> split_csv_columns(std::string_view line);
