// Values that end up inside a line sent to a mail server: user names,
// passwords, addresses, the HELO name, message numbers.
#pragma once
#include <string_view>

// True when text holds no CR, LF or NUL. A POP3, SMTP or poppassd command is
// one line: a value holding one of them would end the command early and let
// its tail pass for a command of its own (or, cut at the NUL, a different
// value). Entry points refuse such values; the protocol writers check again,
// since a data file written by an older version may still hold one.
bool command_text_safe(std::string_view text);
