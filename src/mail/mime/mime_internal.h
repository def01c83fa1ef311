// Helpers shared by the pieces of the MIME parser.
#pragma once
#include "mail/mime/mime_state.h"
#include "page/connection.h"
#include <cstddef>

// The slot the current part would be saved in, or null: in list mode (the
// slots belong to the message pages of settings set 0), without a user, or
// when all slots are in use.
AttachmentEntry* mime_current_slot(Connection& c);

// Equality and prefix tests ignoring ASCII case.
bool mime_equal_no_case(const char* a, const char* b);
bool mime_starts_no_case(const char* s, const char* prefix);

// Cuts a reference "&#digits" that a bounded copy left without its ";".
void mime_trim_cut_reference(char* s);

// Appends text (CR and LF become blanks) and a LF to a block of
// kHeaderBlockSize bytes that holds len bytes, when the whole fits below
// kHeaderBlockSize - 1. Returns the new length, or -1 when nothing was added.
int mime_append_line(char* block, int len, const char* text);

// Reads the parameter at p ("; name=value" or name="value"): name and value
// are cut to their sizes. Returns the position after it, or null when only
// blanks and ';' remain.
const char* mime_next_parameter(const char* p, char* name, size_t name_size, char* value,
                                size_t value_size);
// The value of the first parameter called name (any case), or false.
bool mime_find_parameter(const char* parameters, const char* name, char* value, size_t value_size);
// take_parameter for a slot's file name: only the last path component is
// kept, so that a name like "../x" cannot leave the user's folder.
void mime_take_file_name(Connection& c, AttachmentEntry& slot, const char* parameters);
