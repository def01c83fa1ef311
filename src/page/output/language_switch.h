// The link at the top of each page to the same place in the other language.
#pragma once
#include <string>
#include <string_view>

#include "page/connection.h"

// Where the switch of a page leads: the request target in the other
// language. The path and the parameters that choose what is shown stay; the
// login parameters are rebuilt from loginQuery, and a parameter that acts (a
// deletion, an addition to the book) is dropped. Pages that act on arrival
// and the answer to the login form lead to the list, a logout to the top
// page. Bytes outside a safe set are percent-escaped, so the result can
// stand in an attribute as it is.
std::string language_switch_target(std::string_view target, bool posted, bool english,
                                   bool loggedIn, std::string_view loginQuery);

// Writes the switch (a small block right after the page's <body>) for the
// connection's request.
void LanguageSwitch(Connection& c);
