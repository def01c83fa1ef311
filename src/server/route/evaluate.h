// Turns a complete request into a page state.
#pragma once
#include "server/connection.h"

void EvaluateRequest(Connection& c);
void EvaluatePost(Connection& c);
// The compose form's To (non-empty), CC and BCC values hold only valid
// addresses.
bool AddressCheck(Connection& c);
