// The one stylesheet of every page: a current look on desktop and phone over
// the pages' plain markup. Served under a name that changes with its text,
// so browsers may keep it for a year.
#pragma once
#include <string>

// "/style/<first 12 hex digits of the text's SHA-256>.css".
const std::string& style_sheet_path();
const std::string& style_sheet_text();
// The head lines every page carries: the viewport and the stylesheet link.
const std::string& page_head_lines();
