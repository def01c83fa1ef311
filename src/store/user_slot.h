// Encoding and decoding of one user's 4000-byte slot of the data file.
#pragma once
#include "store/header_codec.h"
#include "store/user_record.h"
#include <cstdint>
#include <string>

enum SlotResult : int {
    kSlotOk = 1,
    kSlotBadId = -1,    // an id length was out of range
    kSlotBadField = -2, // any other item was out of range or ran past the slot
    kSlotTooLarge = -3, // encoding: the record does not fit into the slot
};

// Where the overflow file of the user with this id lives: "<user_folder>/<id>.adr".
// Returns false when the id cannot name a file safely (empty, ".", "..", or it
// holds a "/"), so a user name can never make the gateway write elsewhere.
bool overflow_book_path(const char* user_folder, const char* id, std::string& path_r);

// Fills slot from r. Books over kBookInSlot characters go to the overflow file
// when it can be written, else into the slot. Returns kSlotOk or kSlotTooLarge
// (nothing is written outside the slot either way).
int encode_user_slot(const UserRecord& r, uint8_t file_key, const char* user_folder,
                     uint8_t (&slot)[kSlotSize]);

// Removes the overflow file of a book that now fits its slot. Call it only
// after the slot is on disk: until then the old slot may still point at it.
void drop_stale_overflow_book(const UserRecord& r, const char* user_folder);

// Decodes slot into r (which must be freshly zeroed). Returns kSlotOk,
// kSlotBadId or kSlotBadField; reads only inside the slot. Settings 1's
// reserved string A always comes back empty, so the record can be written back.
int decode_user_slot(const uint8_t (&slot)[kSlotSize], uint8_t file_key, const char* user_folder,
                     UserRecord& r);
