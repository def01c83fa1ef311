// Runs the page producer that belongs to a connection's state.
#pragma once
#include "server/connection.h"
#include "server/route/worker_wait.h"

using PageProducer = void (*)(Connection& c);

// Page families install their producers at start-up, before the server
// runs. A state without a producer answers the not-found page. For
// SetupPasswordWait the producer is the settings result, run once the worker
// has ended; the worker-wait states (ListWait, MessageWait, SendWait,
// DeleteWait) and the merged-list states take no producer.
void SetPageProducer(PageState state, PageProducer producer);

// Called repeatedly until the state is Done; waiting states return early.
void Dispatcher(Connection& c);

// The not-found answer: 404 (200 for MSIE) with "Designated URL does not exist.".
void NotFoundPage(Connection& c);
