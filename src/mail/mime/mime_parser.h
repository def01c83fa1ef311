// The MIME parser: header blocks, content types, boundaries and body lines of
// a message that arrives one line at a time. No message is held in memory.
#pragma once
#include "server/connection.h"
#include <cstddef>

// Clears the MIME state (start of an exchange).
void mime_reset(Connection& c);
// Adds one raw header line (without CR LF) to c.mime.headerBlock.
void collect_header_line(Connection& c, const char* line);
// Recognises the fields of a header block (message or part) and analyses its
// Content-Type.
void parse_header_block(Connection& c, const char* block);
void analyse_content_type(Connection& c, const char* value);
// Fills dst (size bytes) with the first name/boundary parameter of
// parameters (converted in place to Shift_JIS), or "noname%d.dat".
void take_parameter(Connection& c, char* dst, char* parameters, size_t size);
bool is_html_name(const char* name);
void partial_parameters(Connection& c, const char* parameters);
bool is_boundary_line(Connection& c, const char* line);
// A line of a body part's header (c.mime.inPartHeader set).
void part_header_line(Connection& c, const char* line);
// Decodes one body line by the transfer mode into out (capacity cap).
// Returns the number of bytes yielded (0 for a line kept as base64 carry).
int decode_body_line(Connection& c, const char* line, char* out, size_t cap);
// True while a message is being retrieved (RETR) rather than listed (TOP).
bool mime_retrieving(const Connection& c);
