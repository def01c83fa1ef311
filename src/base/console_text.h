// Conversions between the terminal's UTF-8 and the Shift_JIS (code page 932)
// the gateway keeps inside.
#pragma once
#include <string>
#include <string_view>

// Returns false when the text is not valid UTF-8 or holds a character that
// Shift_JIS cannot represent; sjis_r is then unspecified.
bool utf8_to_sjis(std::string_view utf8, std::string& sjis_r);

// Characters that do not convert become "?" so a message is always printable.
std::string sjis_to_utf8(std::string_view sjis);
