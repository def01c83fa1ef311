// The hidden token every form of a logged-in user carries, so that a form
// another site builds cannot act in the user's name.
#pragma once
#include "page/connection.h"

// Writes the token field right after a form's opening tag; nothing without
// a login (unit pages, the login form itself).
void FormTokenField(Connection& c);
