// The handlers of the list, view and MIME modules that the exchange calls.
// Declared weak while those modules are being written, so the gateway links
// without them; a missing handler is skipped.
#pragma once
#include "mail/list/received_list.h"
#include "mail/mime/mime_parser.h"
#include "mail/view/message_view.h"

void list_after_stat(Connection& c) __attribute__((weak));
void list_line(Connection& c, const char* line) __attribute__((weak));
void list_footer(Connection& c) __attribute__((weak));
void list_section(Connection& c, int set) __attribute__((weak));
void remove_kept(UserRecord* user, int set, int number) __attribute__((weak));
void view_header_line(Connection& c, const char* line) __attribute__((weak));
void view_body_line(Connection& c, const char* line) __attribute__((weak));
void message_links(Connection& c) __attribute__((weak));
void finish_part_file(Connection& c) __attribute__((weak));
void delete_user_files(UserRecord* user) __attribute__((weak));
void mime_reset(Connection& c) __attribute__((weak));
