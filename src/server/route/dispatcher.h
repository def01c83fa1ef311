// Runs the page producer that belongs to a connection's state.
#pragma once
#include "page/connection.h"
#include "page/output/not_found_page.h"
#include "server/route/worker_wait.h"

using PageProducer = void (*)(Connection& c);

// The producer of each page state comes from a table that names the page
// families' own producers. For SetupPasswordWait the producer is the
// settings result, run once the worker has ended; the worker-wait states
// (ListWait, MessageWait, SendWait, DeleteWait) and the merged-list states
// take no producer. Tests put their own in; the previous one is returned so
// it can be put back. A state whose producer is null answers the not-found
// page.
PageProducer SetPageProducer(PageState state, PageProducer producer);

// Called repeatedly until the state is Done; waiting states return early.
void Dispatcher(Connection& c);
