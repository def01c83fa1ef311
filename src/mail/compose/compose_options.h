// The user's compose options as they apply: a value the administrator has
// fixed wins over the user's own.
#pragma once
#include "page/connection.h"

struct ComposeOptions {
    bool cc;
    bool bcc;
    int rows;
    int columns;
    int uploads; // 0 to kMaxUploads
    char quotation[8];
    bool signature; // the set's signature goes into the text
};

ComposeOptions compose_options(const Connection& c);
