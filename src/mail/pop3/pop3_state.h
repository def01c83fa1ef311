// Progress of one POP3 exchange, kept in its connection.
#pragma once
#include "mail/mime/mime_state.h"
#include <cstdint>

// Values of Connection::workerResult during a POP3 exchange.
enum Pop3State : uint16_t {
    NotStarted = 0,
    AwaitGreeting = 1,
    UserSent = 2,
    PassSent = 3,
    StatSent = 4,
    ListingFull = 5,
    FetchingHeaders = 6,
    Retrieving = kRetrievingStep,
    Quitting = 8,
    Deleting = 9,
    ListingUpdate = 10,
    AwaitGreetingApop = 11,
    CapaSent = 12, // asking whether STLS is offered
    StlsSent = 13,
    XoauthAskSent = 14,  // "AUTH XOAUTH2" alone, the response follows the "+"
    XoauthSent = 15,     // the XOAUTH2 response is out
    XoauthRefused = 16,  // the refusal's challenge was answered, its -ERR follows
    CapaAsked = 17,      // asking whether commands may be pipelined
    SearchStatSent = 18, // how far the search for a part of divided mail may ask ahead
    ConnectFailed = 20,
    HostNotFound = 21,
    TlsFailed = 22,
};

// Requests sent ahead of the one being answered when the server pipelines:
// enough to keep a loopback server busy, little enough that neither side's
// socket buffer fills with what the other has not read.
constexpr int kPipelineWindow = 64;

// Enough of the greeting to keep its APOP time stamp across STLS.
constexpr int kPop3GreetingSize = 256;

struct Pop3Exchange {
    uint16_t statCount;
    uint16_t headerPhase;
    uint16_t deletedCount;
    int deleteCursor; // offset of the next number in deleteList
    // The background worker talks to the server while the connection's own
    // thread waits; the worker's thread handle lives in Connection.
    uint16_t lineCut;  // the line being received outgrew the line buffer
    uint16_t busyHeld; // this exchange holds the user's busy flag
    // For the exchange of settings set 1 or 2 of a merged list: its entry in
    // the table of extra exchanges that the parent's page waits for.
    uint64_t extraId;
    // Secure connections: the set's choice (a Pop3Security value), whether
    // certificates are checked, and for STLS what the exchange must remember
    // across the upgrade.
    uint8_t security;
    uint8_t verify;
    uint8_t stlsOffered;
    uint8_t apopAfterTls;
    uint8_t streamRestarted; // bytes read before the upgrade must be dropped
    uint8_t oauth;           // log in with AUTH XOAUTH2 (Connection::saslResponse)
    // RFC 2449 PIPELINING: asked once per exchange, and only where a page
    // has more than one request to make.
    uint8_t capaKnown;
    uint8_t pipelining;
    // Replies still to come for requests sent after the one being answered,
    // whether they are multi-line (TOP) or single (DELE), and whether one of
    // them is being skipped after an error ended the page.
    uint16_t ahead;
    uint8_t aheadMultiline;
    uint8_t drainBody;
    char greeting[kPop3GreetingSize];
};
