// The output filter every page text passes through.
#pragma once
#include "page/connection.h"
#include "page/output/output_filter_state.h"

enum : int {
    kOutLinks = 0x01,  // web and mail addresses become links (with kOutText)
    kOutText = 0x02,   // escape HTML, links, &nbsp; runs, SO starts katakana
    kOutBreaks = 0x04, // with kOutText: LF becomes <br>, CR is dropped
    kOutQuote = 0x08,  // without kOutText: quotation mark after each LF
};

// Writes NUL-terminated text to the client through the filter. ISO-2022-JP
// and half-width katakana state is kept in c across calls; a link candidate
// is flushed at the end of each call. Sends at most 4095 bytes at a time.
void OutputText(Connection& c, const char* text, int flags);

// printf-style formatting into c.filter.formatted (bounded; a cut never splits a
// Shift_JIS pair), then OutputText with flags.
void OutputFormat(Connection& c, int flags, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
