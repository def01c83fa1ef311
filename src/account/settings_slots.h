// The form slots of the settings pages: which posted field lives in which
// slot, and reading and writing them.
#pragma once
#include "page/connection.h"

// The posted fields, one form slot each, from the form reader to the page
// written after the checks (and after a poppassd exchange). Slots 0 to 2 stay
// free: they carry the poppassd inputs, and fields a and b of the login forms.
// Checkbox slots hold "1" when ticked, else nothing.
enum SettingsSlot : int {
    kSlotId = 3,
    kSlotPass0,
    kSlotPass1,
    kSlotPass2,
    kSlotName,
    kSlotMailAddress,
    kSlotSmtpName,
    kSlotPop3Name,
    kSlotQuotation,
    kSlotRowCount,
    kSlotColumnCount,
    kSlotUploadNo,
    kSlotDeleteFlag,
    kSlotHeaderFlag,
    kSlotCcFlag,
    kSlotBccFlag,
    kSlotJumpFlag,
    kSlotApopFlag,
    kSlotPoppassd,
    kSlotFolding,
    kSlotSaveText,
    kSlotDeleteLink,
    kSlotPop3Security, // "none", "stls" or "tls"
    kSlotSmtpSecurity, // "none", "starttls" or "tls"
    kSlotSmtpAuth,
    kSlotSmtpUser, // a login of the set's own for SMTP; empty: the POP3 one
    kSlotSmtpPass, // its password; empty: unchanged
    // The slot of the first text field (kSlotId to kSlotQuotation) whose
    // posted value held a CR, LF or NUL, as a number; empty when none did.
    kSlotBrokenField,
    kSlotEnd,
};
static_assert(kSlotEnd <= kFormSlots);

// The poppassd inputs, filled just before the exchange starts.
enum : int { kSlotPoppassdUser = 0, kSlotPoppassdOld = 1, kSlotPoppassdNew = 2 };
// The POP3 server's answer to a refused registration check.
enum : int { kSlotCheckRefusal = 0 };

inline bool slot_ticked(const Connection& c, int slot) {
    return c.formSlots[slot][0] != '\0';
}
// The decimal value of a slot made only of digits; -1 for anything else.
int slot_number(const Connection& c, int slot);
void set_slot(Connection& c, int slot, const char* text);
void set_slot_number(Connection& c, int slot, int value);
