// The shared address book as the administrator edits it: rows of a name and
// a bracketed address, read from and written to "<user folder>/common.adb".
#pragma once
#include <string>
#include <string_view>
#include <vector>

struct SharedBookRow {
    std::string name;    // Shift_JIS, trailing blanks and tabs removed
    std::string address; // Shift_JIS, with its brackets: "<t@b.c>"
};

// Sorting compares no more than this many bytes of a column.
constexpr size_t kSharedBookSortBytes = 39;

// Rows of an address-list text; ",", CR and LF all separate entries.
std::vector<SharedBookRow> parse_shared_book(std::string_view text);

// The file text: each row's name followed by its address, joined with ",".
std::string join_shared_book(const std::vector<SharedBookRow>& rows);

// Reads the book. Returns 1 (rows_r filled), 0 when there is no file (no
// rows), -1 after printing why it cannot be read.
int load_shared_book(const std::string& path, std::vector<SharedBookRow>& rows_r);

// Replaces the file under globalLock: written anew through a temporary file
// and a rename, or deleted when no row is left. Returns 1, or -1 after
// printing why.
int save_shared_book(const std::string& path, const std::vector<SharedBookRow>& rows);

// Stable ascending sort by the name or the address column, comparing the
// first kSharedBookSortBytes bytes (never half a character) in their UTF-8
// form with strcoll under the environment's collation, or C.UTF-8 when the
// environment names none.
void sort_shared_book(std::vector<SharedBookRow>& rows, bool by_address);
