// The registered users in slot order. Changes happen under globalLock.
#pragma once
#include "store/user_record.h"
#include <vector>

struct UserTable {
    UserRecord head; // not a user: its link is the first record
};

UserRecord* find_user(const UserTable& t, const char* id);
int count_users(const UserTable& t);
// Links r at the end; the table takes ownership. The caller renumbers.
void append_user(UserTable& t, UserRecord* r);
void renumber_users(UserTable& t);
// Unlinks and frees the record with this id. Returns 1 when removed, 0 when
// there is no such user or it is in use (busy returns true for it).
int remove_user(UserTable& t, const char* id, bool (*busy)(const UserRecord*) = nullptr);
void clear_users(UserTable& t);

// The records in table order, for putting back with relink_users after a
// change that could not be saved.
std::vector<UserRecord*> user_order(const UserTable& t);
// Links exactly the records of order, in that order, and renumbers them.
void relink_users(UserTable& t, const std::vector<UserRecord*>& order);
// Unlinks the record with this id and hands it to the caller; nullptr when
// there is no such user.
UserRecord* unlink_user(UserTable& t, const char* id);
