// The page of a mail exchange that failed to start, stalled or broke off.
#pragma once
#include "page/connection.h"

// Written as a whole answer (status line and page opening first when they
// are not out yet), then the state moved on: Done, or ExtraList2 for the
// first set of a merged list.
void ExchangeFailurePage(Connection& c);
