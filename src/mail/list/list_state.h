// Progress of the received-mail list while its exchange runs.
#pragma once

struct KeptEntry;

struct ListProgress {
    KeptEntry* current; // entry whose row is written next (or whose TOP runs)
    int rowNumber;
    int newEntries;
};
