// The incremental request reader: bytes in, lines out, request evaluated when
// complete. All state lives in the Connection, so it can be fed any chunking.
#pragma once
#include "page/connection.h"

// Returns 1 when the request is complete and has been evaluated, else 0.
int FeedBytes(Connection& c, const char* bytes, int count);
// Interprets c.line (NUL-terminated) while reading headers.
void ParseHeaderLine(Connection& c);
uint16_t DetectBrowser(const char* userAgent);
// End of a POST body: last line, upload closed, then EvaluatePost.
void FinishPost(Connection& c);
