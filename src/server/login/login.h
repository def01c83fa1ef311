// Credentials, the login token and the refusal answers.
#pragma once
#include "server/connection.h"
#include <cstddef>

// The user whose Settings 1 id equals c.userName and whose password equals
// c.password, or null. An empty name never matches.
UserRecord* CheckLogin(Connection& c);
// The login form of a POST to the lists (fields a and b): binds the user,
// gives it a new check number and builds c.loginQuery. Only without browser
// authentication and when the request is not yet authenticated.
void FormLogin(Connection& c);
// A user's page requested without a valid login: 401 (browser
// authentication) or 404, and the ID error page. State Done.
void RefuseLogin(Connection& c);
// A POST without a user: 200 and the ID error text. State Done.
void IdErrorAfterPost(Connection& c);
// True when given equals the secret stored in a buffer of capacity bytes.
// Takes the same time wherever the two differ.
bool SecretEquals(const char* stored, size_t capacity, const char* given);
// A fresh, unpredictable, non-zero 31-bit check number for a form login, from
// the system's random source; 0 when that source fails (the login is then
// refused rather than given a guessable number).
int32_t NewLoginCheck();
