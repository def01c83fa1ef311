// Runs the page producer that belongs to a connection's state.
#pragma once
#include "server/connection.h"

using PageProducer = void (*)(Connection& c);

// Page families install their producers at start-up. A state without a
// producer answers the not-found page.
void SetPageProducer(PageState state, PageProducer producer);

// Called repeatedly until the state is Done; waiting states return early.
void Dispatcher(Connection& c);

// The not-found answer: 404 (200 for MSIE) with "Designated URL does not exist.".
void NotFoundPage(Connection& c);
