// Supervision of the mail workers that write their own pages.
#pragma once
#include "server/connection.h"

// Seconds a mail worker may go without progress before its error page is
// written (`tarnbox serve --worker-timeout`). Set before the server starts.
extern int workerTimeoutSeconds;

// ListWait, MessageWait, SendWait and DeleteWait: keeps waiting while the
// worker makes progress; writes the error page of an exchange that failed to
// start or stalled, then moves the state on (Done, or ExtraList2 for the
// first set of a merged list).
void WorkerWait(Connection& c);

// The error page of an exchange that stalled or broke off, written as a whole
// answer (status line and page opening first when they are not out yet),
// then the state moved on as WorkerWait does.
void ExchangeFailurePage(Connection& c);
