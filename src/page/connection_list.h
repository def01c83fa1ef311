// Every live connection context, request or extra worker, in one list
// that the listener's monitor walks to end idle ones and free finished ones.
// Appends happen at the tail under globalLock, and only the monitor (or the
// server's stop after it) unlinks.
#pragma once
#include "page/connection.h"

Connection*& first_connection();
// Lists c; from then on the monitor may free it at any time.
void AppendConnection(Connection* c);
bool InConnectionList(const Connection* c);
// Takes c out of the list (the caller holds globalLock).
void UnlinkConnection(Connection* c);
