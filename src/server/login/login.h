// Credentials, the login token and the refusal answers.
#pragma once
#include "base/text/secret_equals.h"
#include "page/connection.h"
#include <cstddef>

// The user whose Settings 1 id equals c.userName and whose password equals
// c.password, or null. An empty name never matches.
UserRecord* CheckLogin(Connection& c);
// The login form of a POST to the lists (fields a and b): binds the user,
// opens a session (a new check number and the browser's cookie) and
// builds c.loginQuery. Only without browser
// authentication and when the request is not yet authenticated.
void FormLogin(Connection& c);
// A user's page requested without a valid login: 401 (browser
// authentication) or 404, and the ID error page. State Done.
void RefuseLogin(Connection& c);
// A POST without a user: 200 and the ID error text. State Done.
void IdErrorAfterPost(Connection& c);
