// The received-mail list and the kept list behind it.
#pragma once
#include "server/connection.h"
#include <cstdint>

struct KeptEntry {
    KeptEntry* next;
    char subject[300];
    char date[300];
    char from[300];
    char to[300];
    char replyTo[300];
    char messageId[300];
    int32_t number; // on the server; after its row is written, the row number
    int32_t size;
    int32_t read;
    int32_t contentClass;
    int32_t changed;
};

// After STAT: LIST (full or update) or the empty list.
void list_after_stat(Connection& c);
// Each LIST line and the closing ".".
void list_line(Connection& c, const char* line);
void list_heading(Connection& c);
void list_kept_rows(Connection& c);
void list_row(Connection& c);
// A TOP reply is complete and its header parsed.
void list_headers_done(Connection& c);
void list_footer(Connection& c);
void list_section(Connection& c, int set);
void mark_read(KeptEntry* list, int number, int mark);
void clear_read_marks(UserRecord* user);
bool find_kept(Connection& c, const char* messageId);
// Drops the entry of a message deleted in this exchange.
void remove_kept(UserRecord* user, int set, int number);
void free_kept_list(UserRecord* user, int set);
