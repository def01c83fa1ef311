// Progress of the received-mail list while its exchange runs.
#pragma once

#include <cstdint>

struct KeptEntry;

// What the list wants of the POP3 exchange next. The list decides and the
// exchange speaks: it sends the command and keeps its own count of requests
// out, so the list's code never talks to the server.
enum class ListAsk : uint8_t {
    Nothing,      // the reply goes on
    List,         // LIST (c.list.updating: after a kept list)
    Capabilities, // CAPA first if not known yet, then the TOPs
    Top,          // the TOP reply of c.list.current is wanted next
    Quit,
};

struct ListProgress {
    KeptEntry* current; // entry whose row is written next (or whose TOP runs)
    int rowNumber;
    int newEntries;
    // LIST numbers arrive in ascending order: the search for the next one
    // starts after the last match, and appends go to the known tail, so a
    // long mailbox is matched in one pass. Both are reset after STAT.
    KeptEntry* lookup;
    KeptEntry* tail;
    // Pipelined: the last entry the TOP requests have been walked up to.
    KeptEntry* sent;
    // The LIST reply is matched against the kept list; cleared when a size
    // no longer matches, and every header is fetched again.
    bool updating;
};
