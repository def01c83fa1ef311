// What the MIME parser keeps per connection while a message streams by.
#pragma once
#include <cstdint>

constexpr int kHeaderBlockSize = 4096;
constexpr int kMaxBoundaries = 10;
// The mail worker's step in which a message is fetched whole, so that its
// parts are shown and saved (the POP3 exchange's Retrieving); in the other
// steps only headers pass through the parser.
constexpr uint16_t kRetrievingStep = 7;
constexpr int kHeaderFieldSize = 300;
constexpr int kBase64CarrySize = 80;

enum ContentClass : uint16_t {
    kClassText = 0,
    kClassHtml = 1,
    kClassImage = 2,
    kClassAttachment = 3,
    kClassMultipart = 4,
    kClassAlternative = 5,
    kClassTextInAlternative = 6,
};

enum TransferMode : uint16_t {
    kTransferNone = 0,
    kTransferBase64 = 1,
    kTransferQuotedPrintable = 2,
    kTransferEucJp = 3,
};

struct MimeState {
    char headerBlock[kHeaderBlockSize];
    uint16_t headerBlockLength; // counts bytes dropped at the limit too
    uint16_t headerPending;     // header lines collected since the last parse
    char partHeaderBlock[kHeaderBlockSize];
    uint16_t inPartHeader;
    uint16_t contentClass;
    uint16_t transferMode;
    char boundaries[kMaxBoundaries][kHeaderFieldSize];
    uint16_t boundaryCount;
    uint16_t partSeparatorPending;
    uint32_t sjisParameters;
    char base64Carry[kBase64CarrySize + 4];
    int base64CarryLength;
    // Header strings of the message (or of the TOP reply being read).
    char subjectLine[kHeaderFieldSize];
    char dateLine[kHeaderFieldSize];
    char fromLine[kHeaderFieldSize];
    char toLine[kHeaderFieldSize];
    char ccLine[kHeaderFieldSize];
    char replyTo[kHeaderFieldSize];
    char messageId[kHeaderFieldSize];
    char references[kHeaderFieldSize];
    char inReplyTo[kHeaderFieldSize];
    char contentType[kHeaderFieldSize];
    // Divided mail (message/partial).
    uint16_t dividedPhase;
    int partNumber;
    int partTotal;
    int searchCursor; // the message whose TOP reply is being read
    int searchSent;   // the last message whose TOP is out (pipelined)
    char partialId[80];
    // Declared charset of the current text or HTML part when it is one that
    // is converted with iconv (empty otherwise), and the bytes of a character
    // that a transfer-encoded line split, waiting for the next line.
    char textCharset[40];
    char foreignCarry[16];
    uint16_t foreignCarryLength;
    // Set by an opening boundary until its part header ends: a part with an
    // empty header is still a part (plain text), whereas the empty line after
    // a closing boundary starts nothing.
    uint16_t openingBoundary;
};
