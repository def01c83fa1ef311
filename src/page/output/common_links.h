// The navigation links that close most pages.
#pragma once
#include "page/connection.h"

void ListLink(Connection& c);
void TopLink(Connection& c);
void ComposeLinks(Connection& c);
void SetupLinks(Connection& c);
