// Credentials, the login token and the refusal answers.
#pragma once
#include "server/connection.h"

// The user whose Settings 1 id equals c.userName and whose password equals
// c.password, or null.
UserRecord* CheckLogin(Connection& c);
void FormLogin(Connection& c);
void RefuseLogin(Connection& c);
void IdErrorAfterPost(Connection& c);
// A fresh, unpredictable, non-zero 31-bit check number for a form login.
int32_t NewLoginCheck();
