// What the output filter carries from one piece of page text to the next: a
// JIS escape sequence or a two-byte character may be split between two calls,
// and a web or mail address is held back until it is known whole, so that it
// can be written as a link.
#pragma once
#include <cstdint>

constexpr int kFilterBlockSize = 4096;

struct OutputFilterState {
    uint16_t state;     // the character set mode the text is in
    uint32_t pending;   // a byte waiting for the one that completes it
    int16_t linkLength; // bytes held in link
    uint16_t linkKind;
    // Filtered bytes staged for the client, and the address being held.
    char text[kFilterBlockSize];
    char link[kFilterBlockSize];
    // OutputFormat's text before it is filtered.
    char formatted[kFilterBlockSize];

    // Ready for the next page; the buffers are only marked empty, so a
    // request pays nothing for the bytes it never writes.
    void clear() {
        state = 0;
        pending = 0;
        linkLength = 0;
        linkKind = 0;
        text[0] = link[0] = '\0';
    }
};
