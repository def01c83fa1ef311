// Text made safe for markup: inside an element or an attribute value.
#pragma once
#include <string>

// "<", ">", double quote and "&" become entities; a character reference
// that stands for a character Shift_JIS cannot hold (&#NNNN;) stays as it is.
std::string MarkupEscape(const char* text);
