// The options that shape a message page: the user's own value, or the
// administrator's when the basic settings fix it.
#pragma once
#include "page/connection.h"

struct ViewOptions {
    bool folding;     // text outside <pre>, "<br>" after each line
    bool showHeaders; // the header block after the message
    bool markRead;    // the list ticks the message once read
    bool jump;        // the back link returns to the message's row
    bool saveText;    // the ".txt" download link
    bool deleteLink;  // "Go back to the list after deleting"
    bool quotation;   // a quotation mark applies: text is kept for a reply
};

ViewOptions view_options(const Connection& c);
