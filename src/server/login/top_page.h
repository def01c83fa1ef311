// The top page with its login blocks, and the logout page.
#pragma once
#include "page/connection.h"

void TopPage(Connection& c);
void LoginBlock(Connection& c, const char* languageQuery, int english);
void LogoutPage(Connection& c);
