#include "account/settings_slots.h"
#include "base/charset/sjis.h"

#include <cstdio>

int slot_number(const Connection& c, int slot) {
    const char* text = c.formSlots[slot];
    if (!*text) return -1;
    int value = 0;
    for (const char* p = text; *p; p++) {
        if (*p < '0' || *p > '9' || value > 100000) return -1;
        value = value * 10 + (*p - '0');
    }
    return value;
}

void set_slot(Connection& c, int slot, const char* text) {
    sjis_copy(c.formSlots[slot], text);
}

void set_slot_number(Connection& c, int slot, int value) {
    snprintf(c.formSlots[slot], sizeof c.formSlots[slot], "%d", value);
}
