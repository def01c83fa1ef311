// One received message as a page or as a downloaded text file.
#pragma once
#include "server/connection.h"

// Each line of the header phase of RETR, and each TOP line.
void view_header_line(Connection& c, const char* line);
// Each line of the body phase of RETR.
void view_body_line(Connection& c, const char* line);
void message_links(Connection& c);
// Create and finish the file of the current attachment slot.
void open_part_file(Connection& c);
void finish_part_file(Connection& c);
// Writes the saved HTML part at path cleaned of active content.
void sanitise_html(Connection& c, const char* path);
// Removes every temporary file of the user (start of a set-0 exchange, stop).
void delete_user_files(UserRecord* user);
