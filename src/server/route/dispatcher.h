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

// Hooks of the received-mail list for a merged list (multiple_addresses on),
// which the dispatcher finishes after the exchange of set 0. While a hook is
// not installed: every set counts as finished, no section and no footer are
// written.
// True once the exchange of set (1 or 2) has ended and its outcome is kept.
extern bool (*ExtraSetFinished)(Connection& c, int set);
// Writes the section of set on the merged page.
extern void (*ListSection)(Connection& c, int set);
// Writes the list footer, before the page frame is closed.
extern void (*ListFooter)(Connection& c);
