// The MIME parser: header blocks, content types, boundaries and body lines of
// a message that arrives one line at a time. No message is held in memory.
#pragma once
#include "base/charset/foreign_charset.h"
#include "mail/mime/mime_state.h"
#include "page/connection.h"
#include <cstddef>

// Clears the MIME state (start of an exchange).
void mime_reset(Connection& c);
// Adds one raw header line (without CR LF) to c.mime.headerBlock. Lines past
// 4,095 bytes of block are counted and dropped.
void collect_header_line(Connection& c, const char* line);
// One line of a TOP reply read for the list (dot-stuffed as it came): the
// header is collected, and parsed at its empty line or, when it has none, at
// the closing ".".
void collect_top_line(Connection& c, const char* line);
// Recognises the fields of a header block (message or part) and analyses its
// Content-Type. A block without Content-Type is plain text. Parsing the
// message block (c.mime.headerBlock itself) first clears the header strings,
// so a TOP reply never shows the fields of the one before.
void parse_header_block(Connection& c, const char* block);
void analyse_content_type(Connection& c, const char* value);
// Fills dst (size bytes) with the first name/boundary parameter of
// parameters (converted in place to Shift_JIS), or "noname%d.dat".
void take_parameter(Connection& c, char* dst, char* parameters, size_t size);
bool is_html_name(const char* name);
void partial_parameters(Connection& c, const char* parameters);
// A boundary line of a stored multipart. On a match the next part's header
// begins: in part header := 1, transfer mode := none, the part header block,
// Content-Type, base64 carry and text charset are emptied. Finishing the
// part's file and the "<pre>" after an HTML part are the view's.
bool is_boundary_line(Connection& c, const char* line);
// A line of a body part's header (c.mime.inPartHeader set).
void part_header_line(Connection& c, const char* line);
// Decodes one body line by the transfer mode into out: at most cap - 1 bytes
// and a NUL. Text and HTML parts in a foreign charset come out as Shift_JIS
// (references or geta marks for what it cannot hold). Returns the number of
// bytes yielded (0 for a line kept as base64 carry). Lines are taken up to
// kLineSize - 1 bytes; a cap of kLineSize + 8 never cuts a yield short unless
// a foreign charset widens it.
int decode_body_line(Connection& c, const char* line, char* out, size_t cap);
// What the parser asks of the page it feeds: a file for the part whose
// header has just ended, opened before anything more of the page is
// written. The message view, which owns the part files, fills it in.
struct MimePartPage {
    void (*openPartFile)(Connection& c);
};
extern const MimePartPage kMimePartPage;
// True while a message is being retrieved (RETR) rather than listed (TOP).
bool mime_retrieving(const Connection& c);

// How text that Shift_JIS cannot hold is shown on this request: geta marks
// in the text download, character references on pages.
ForeignMode mime_foreign_mode(const Connection& c);
// decode_encoded_words, except that words in a foreign charset
// (is_foreign_charset) are converted to Shift_JIS. Same contract: dst of
// dst_size bytes, returns the length or -1 when cut short.
int decode_header_value(char* dst, int dst_size, const char* value, ForeignMode mode);
// The decoding a header line of this request gets: mime_foreign_mode, but
// geta marks for Content-* lines, whose parameters become file names.
int decode_header_line(const Connection& c, char* dst, int dst_size, const char* line);
// A line that starts a header field rather than continuing one: it begins
// with a letter and holds a ':' outside a two-byte ISO-2022-JP run.
bool is_new_field(const char* line);
