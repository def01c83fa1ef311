// Pieces the address-book page, its script and its form post share.
#pragma once
#include "base/text/messages.h"
#include "page/connection.h"
#include <cstddef>
#include <string>

namespace book {

// 40 dashes: what the script variant lists when the book is empty.
inline constexpr const char* kPlaceholder = "----------------------------------------";

// The script variant runs on browsers flagged Mozilla 3 or later.
inline bool ScriptVariant(const Connection& c) {
    return (c.browser & kBrowserMozilla3) != 0;
}

// Writes n bytes of text so that they can stand inside an attribute value or
// an element: "<", ">", "&" and the double quote become entities; control
// bytes other than tab, CR and LF are dropped (an ESC would switch the
// output filter into JIS and eat the markup after it), and so is a lead byte
// without a valid second byte.
void OutputEscaped(Connection& c, const char* text, size_t n);
void OutputEscaped(Connection& c, const char* text);

// Makes text the user's personal book (empty: no book) and saves the record
// under globalLock. When the save fails the old book is put back, so memory
// never claims what the data file does not hold. Returns true when saved.
bool StoreBook(Connection& c, const std::string& text);

// The user's personal book, copied under globalLock.
std::string CopyBook(const Connection& c);

} // namespace book

// The page script (functions iup ... iadd) in the page's language.
void WriteBookScript(Connection& c);
