// How a settings set reaches its mail servers, on the users' settings
// pages: shown and changeable while users may name their own servers.
#pragma once
#include "page/connection.h"

struct BasicSettings;
struct SettingsSet;

// Fills the security slots from the set of the user owner (or, for a new
// user, from the administrator's defaults).
void fill_security_slots(Connection& c, const BasicSettings& b, const SettingsSet* set,
                         const char* owner = "");

// The form lines: two lists and a box, and the note when the administrator
// turned certificate checks off for this set.
void write_security_fields(Connection& c, const BasicSettings& b, bool changeable, bool verifyOff);

// Stores the posted choice into the set; a new user starts from the
// defaults. The set's own ports follow a changed security.
void apply_security_slots(const Connection& c, const BasicSettings& b, SettingsSet& s, bool newUser,
                          bool changeable);

// Keeps the posted SMTP login of set of r in the credentials (a login of
// the set's own, or none). The caller holds globalLock; false when it could
// not be written.
bool store_posted_smtp_login(const Connection& c, const UserRecord& r, int set);

// The lines of the result page.
void write_security_result(Connection& c, const BasicSettings& b, const SettingsSet& s);
