// Supervision of the mail workers that write their own pages.
#pragma once
#include "page/connection.h"

// ListWait, MessageWait, SendWait and DeleteWait: keeps waiting while the
// worker makes progress; writes the error page of an exchange that failed to
// start or stalled, then moves the state on (Done, or ExtraList2 for the
// first set of a merged list).
void WorkerWait(Connection& c);
