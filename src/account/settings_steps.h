// The steps behind a settings or registration post: checking, saving with
// its result page, and deleting Settings 2 or 3. set is -1 for a new user,
// else 0 to 2 (a set of c.user).
#pragma once
#include "page/connection.h"
#include <cstddef>

// The messages of failed checks, each followed by "<br>". Appends that no
// longer fit are dropped whole.
struct ErrorList {
    char text[2048] = {};
    size_t length = 0;

    void add(const char* message);
    // Drops what is listed so far and starts again with message.
    void replace(const char* message);
    bool empty() const { return length == 0; }
};

// Brings the posted slots in line with what the user may change: values that
// are not changeable come from the record, password fields of a fixed
// password are dropped, and the signature loses its trailing line ends.
void prepare_posted_settings(Connection& c, int set);

// The checks in their order. May drop the kept mail list of a set whose
// POP3 user name changed. Resets the row and column slots as the rules say.
void check_settings(Connection& c, int set, ErrorList& errors);

// Status 200, the list of errors and the form again.
void settings_error_page(Connection& c, int set, const ErrorList& errors);

// True when the post asks for the password to be changed on the POP3 server
// too (an existing set, an old password given, and poppassd in effect).
bool poppassd_wanted(const Connection& c, int set);

// Stores the posted set (a new user is created and appended) and writes the
// result page. passwordChangedOnServer adds the poppassd line.
void save_settings(Connection& c, int set, bool passwordChangedOnServer);

// Settings 1 of the user a registration post would make, not stored: what
// the POP3 server is asked about before the account exists.
SettingsSet registration_probe(Connection& c);

// The page after a poppassd exchange with outcome result (not 0 or 5):
// nothing is saved and the form is shown again.
void poppassd_failure_page(Connection& c, int set, int result);

// Moves the sets after set one place up, run-time mail state included, and
// empties Settings 3. The caller holds globalLock.
void move_sets_up(UserRecord& r, int set);

// Deletes Settings 2 or 3 (set 1 or 2) of c.user, stores the record and
// writes the page.
void delete_settings_set(Connection& c, int set);
