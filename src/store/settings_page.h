// The users' own settings pages and the new-user registration pages.
#pragma once
#include "server/connection.h"

// Starts the poppassd exchange for settings set setIndex on a thread of its
// own. Inputs: c.formSlots[0] the POP3 user name, [1] the old password, [2] the
// new password. It leaves the outcome in c.workerResult (5 success, 6 server
// not found, 7 connection failed, 8 refused with the text in
// c.user->runtime.pop3ErrorText[0]) and the thread in c.workerThread with
// c.workerRunning set while it runs. Null until the poppassd module is
// installed: the submit then takes the outcome "connection failed".
extern void (*StartPasswordWorker)(Connection& c, int setIndex);

// Starts asking the POP3 server whether it takes the user name and password
// of a registration post (c.formSlots as posted), on a thread of its own. It
// leaves a LoginCheckOutcome in c.workerResult, the server's refusal in
// c.formSlots[kSlotCheckRefusal], and clears c.workerRunning at its end.
// Null until the POP3 module is installed: no account can be made then.
extern void (*StartRegistrationCheck)(Connection& c);

// The UserField handler of the form reader: "user_" fields into c.formSlots.
void SettingsUserField(Connection& c, const char* text, int urlencoded);

// Producers of SetupPage, SetupSubmit, SetupDeleteSubmit, SetupPasswordWait,
// NewUserPage and NewUserSubmit, and the UserField handler.
void install_settings_pages();
