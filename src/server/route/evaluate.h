// Turns a complete request into a page state.
#pragma once
#include "server/connection.h"

void EvaluateRequest(Connection& c);
void EvaluatePost(Connection& c);
// The compose form's To (non-empty), CC and BCC values hold only valid
// addresses, and none of them held a line break.
bool AddressCheck(Connection& c);
// The same test on the three values: each is split at "," and the address of
// every entry must pass ValidAddress (an empty address passes).
bool RecipientsValid(const char* to, const char* cc, const char* bcc);

// Mail worker starts, installed by the mail modules at start-up. A start sets
// workerResult (0 running, 20 connect failed, 21 no such server) and, when a
// thread runs, workerThread. While a start is not installed the exchange
// counts as failed to connect (workerResult 20), so the worker wait answers
// with the connection error page at once instead of after the time-out; a
// message-as-text request (which has no error page) is answered not found.
using WorkerStart = void (*)(Connection& c);
extern WorkerStart StartMailWorker;         // a POP3 exchange for c.settingsIndex
extern WorkerStart StartAllSettingsWorkers; // the extra sets of a merged list
extern WorkerStart StartSendWorker;         // the SMTP exchange of a posted form
