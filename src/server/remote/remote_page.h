// Suspending and resuming the mail service from a browser.
#pragma once
#include "page/connection.h"
#include <atomic>

extern std::atomic<int> serviceActive;

void RemotePage(Connection& c);
void RemoteSubmit(Connection& c);
