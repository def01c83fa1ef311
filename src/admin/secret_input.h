// Secrets typed by the administrator: never echoed, never cut on the way in.
#pragma once
#include <string>

// One line of standard input, without echo when it is a terminal (the prompt
// then goes to standard error first). Inside the gateway, the next of the
// lines the asking command collected. The line end (LF, and a CR before it)
// is not kept. False when no line could be read.
bool read_secret_line(const char* prompt, std::string& line_r);
