// Where the reader of a request body stands: the body's kind, the percent
// and line-end decoding carried between chunks, and the multipart boundary
// and field name of the part being read.
#pragma once
#include "page/connection.h"
#include <cstdint>

struct FormReading {
    uint16_t bodyMode;
    uint16_t percentState;
    uint8_t percentFirst;
    uint16_t crlfHeld;
    // The watch on field values: valueBroken is set while a field line
    // whose value held a CR, LF or NUL is handed on (the value was cut
    // there, and must not reach a mail server's command line); partLines
    // counts the value lines of the current multipart field; crPending
    // marks a CR still waiting to see whether a LF follows.
    uint16_t valueBroken;
    uint16_t partLines;
    uint16_t crPending;
    char boundary[kFieldSize];
    char partName[kFieldSize];
};
