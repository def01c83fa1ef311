// Pieces shared by the parts of the message view.
#pragma once
#include "base/text/markup_escape.h"
#include "mail/mime/mime_state.h"
#include "mail/view/view_state.h"
#include "page/connection.h"
#include <cstddef>
#include <string>

// The settings letter of the connection's set: 'a', 'b' or 'c'.
char view_set_letter(const Connection& c);

// A header field for display: ISO-2022-JP brought to Shift_JIS and the
// escape, SO and SI bytes dropped, so that the text cannot leave the output
// filter in a state that swallows the markup after it.
void view_display_text(char (&dst)[kHeaderFieldSize], const char* src);

// Brings the output filter back to plain Shift_JIS after text from a
// message, before markup of the gateway's own.
void view_reset_filter(Connection& c);

// The part of divided mail just read was not the last: look for the next.
ViewAsk view_search_next_part(Connection& c);
