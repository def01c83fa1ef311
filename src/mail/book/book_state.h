// What the address-book form post keeps per connection while its fields
// arrive one by one (plain page variant).
#pragma once
#include <cstdint>

struct BookProgress {
    char name[40];    // name of the entry being read, at most 38 bytes
    char address[80]; // its address, at most 78 bytes
    int nameNumber;   // entry number the name field carried, 0 for the new row
    int addressNumber;
    int deleteNumber; // entry marked for deletion, 0 none
    uint16_t nameSeen;
    char error[256]; // message of the last rejected entry, empty when none
    // The page's address: where its link back leads ("back=") and the
    // sender it offers to add ("add=").
    char back[300];
    char add[300];
};
