// What the message view keeps per connection besides the MIME state.
#pragma once
#include "mail/mime/mime_state.h"
#include <cstdint>

// Content-IDs the HTML parts referred to, each followed by a LF.
constexpr int kCidSeenSize = 2048;

// What a message page needs from the POP3 server after a reply line; the
// exchange sends it, the view never does.
enum class ViewAsk : uint8_t {
    Nothing,      // the reply goes on
    Body,         // the header is over: the lines that follow are body lines
    Top,          // the search for a part of divided mail reads the header of
                  // MimeState::searchCursor next
    Retr,         // the part found at MimeState::searchCursor is fetched
    Capabilities, // CAPA first if not known yet, then the search reads
                  // headers
    Quit,         // the page is complete
};

struct ViewProgress {
    int quotationLength;     // bytes in Connection::quotationText
    uint16_t quotationFull;  // later text no longer fits
    int partFileSlot;        // slot whose file is open in Connection::file, -1 none
    uint16_t partFileClass;  // content class of that part
    uint16_t enclosedHeader; // reading the message enclosed in part 1 of divided mail
    int enclosedFrom;        // where its header starts in the header block
    int remoteImages;        // pictures from the web the cleaned text refers to
    int cidSeenLength;
    char cidSeen[kCidSeenSize];
};
