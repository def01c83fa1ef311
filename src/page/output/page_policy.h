// The Content-Security-Policy of the generated pages. Mail from anybody is
// shown inside them, so the policy lets run only the scripts the pages write
// themselves (named by their hashes), loads nothing from elsewhere unless
// the user asked to see a message's images, and posts forms only here.
#pragma once
#include "page/connection.h"
#include <string>

// A script a page family writes: the writer puts out the whole element, in
// the language c.english says. Registered once per program (a static
// registrar beside the writer); the policy hashes the text of both languages.
using PageScriptWriter = void (*)(Connection& c);
bool register_page_script(PageScriptWriter write);
// The value of an on... attribute a page writes.
bool register_page_handler(const char* code);

// The policy header's value; images allows a message's pictures from the web.
const std::string& page_policy(bool images);
