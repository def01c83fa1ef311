// What the message view keeps per connection besides the MIME state.
#pragma once
#include <cstdint>

constexpr int kQuotationTextSize = 128000;
// Content-IDs the HTML parts referred to, each followed by a LF.
constexpr int kCidSeenSize = 2048;

struct ViewProgress {
    int quotationLength;     // bytes in Connection::quotationText
    uint16_t quotationFull;  // later text no longer fits
    int partFileSlot;        // slot whose file is open in Connection::file, -1 none
    uint16_t partFileClass;  // content class of that part
    uint16_t headerPending;  // header lines collected since the last parse
    uint16_t enclosedHeader; // reading the message enclosed in part 1 of divided mail
    int enclosedFrom;        // where its header starts in the header block
    int remoteImages;        // pictures from the web the cleaned text refers to
    int cidSeenLength;
    char cidSeen[kCidSeenSize];
};
