// The users' own settings pages and the new-user registration pages.
#pragma once
#include "page/connection.h"

// The exchanges the settings pages start, each on a thread of its own. The
// table starts with the poppassd and POP3 modules' own starts; tests put
// theirs in.
struct SettingsWorkers {
    // The poppassd exchange for settings set setIndex. Inputs:
    // c.formSlots[0] the POP3 user name, [1] the old password, [2] the new
    // password. It leaves the outcome in c.workerResult (5 success, 6 server
    // not found, 7 connection failed, 8 refused with the text in
    // c.user->runtime.pop3ErrorText[0]) and the thread in c.workerThread with
    // c.workerRunning set while it runs. Null: the submit takes the outcome
    // "connection failed".
    void (*password)(Connection& c, int setIndex);
    // Asks the POP3 server whether it takes the user name and password of a
    // registration post (c.formSlots as posted). It leaves a
    // LoginCheckOutcome in c.workerResult, the server's refusal in
    // c.formSlots[kSlotCheckRefusal], and clears c.workerRunning at its end.
    // Null: no account can be made.
    void (*registrationCheck)(Connection& c);
};
SettingsWorkers& settings_workers();
extern const SettingsWorkers kMailSettingsWorkers;

// The producers of SetupPage, SetupSubmit, SetupDeleteSubmit,
// SetupPasswordWait (run once the poppassd worker has ended), NewUserPage
// (c.user is the dispatcher's temporary record with the defaults),
// NewUserSubmit and NewUserCheckWait.
void SetupPage(Connection& c);
void SetupSubmit(Connection& c);
void SetupDeleteSubmit(Connection& c);
void SetupPasswordResult(Connection& c);
void NewUserForm(Connection& c);
void NewUserSubmit(Connection& c);
void NewUserCheckResult(Connection& c);

// The form reader's handler of the: "user_" fields into c.formSlots.
void SettingsUserField(Connection& c, const char* text, int urlencoded);
