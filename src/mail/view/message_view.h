// One received message as a page or as a downloaded text file.
#pragma once
#include "mail/view/view_state.h"
#include "page/connection.h"

// Each line of the header phase of RETR, and each TOP line of the search for
// the parts of divided mail (the list's TOP lines go to collect_top_line).
// Returns what the exchange sends next.
ViewAsk view_header_line(Connection& c, const char* line);
// Each line of the body phase of RETR, the closing "." included.
ViewAsk view_body_line(Connection& c, const char* line);
// The number of the message whose header the search reads next; from now
// on its TOP counts as sent.
int view_take_search_cursor(Connection& c);
// The next message the search may ask for ahead of the replies, or 0 when the
// requests already reach one past the last message (whose -ERR ends the
// search as the one-at-a-time exchange ends it).
int view_take_next_searched(Connection& c, int statCount);
void message_links(Connection& c);
// Create and finish the file of the current attachment slot. Finishing with
// no file open does nothing.
void open_part_file(Connection& c);
void finish_part_file(Connection& c);
// Adds decoded bytes to the open part file (nothing when none is open).
void write_part_file(Connection& c, const char* bytes, int n);
// Writes the saved HTML part at path cleaned of active content, then deletes
// the file.
void sanitise_html(Connection& c, const char* path);
// Removes every temporary file of the user (start of a set-0 exchange, stop).
void delete_user_files(UserRecord* user);
