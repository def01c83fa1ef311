// Progress of the received-mail list while its exchange runs.
#pragma once

struct KeptEntry;

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
};
