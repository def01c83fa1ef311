// Turns a complete request into a page state.
#pragma once
#include "page/connection.h"

void EvaluateRequest(Connection& c);
void EvaluatePost(Connection& c);
// The compose form's To (non-empty), CC and BCC values hold only valid
// addresses, and none of them held a line break.
bool AddressCheck(Connection& c);
// The same test on the three values: each is split at "," and the address of
// every entry must pass ValidAddress (an empty address passes).
bool RecipientsValid(const char* to, const char* cc, const char* bcc);

// The mail worker starts of the routed pages. A start sets workerResult (0
// running, 20 connect failed, 21 no such server) and, when a thread runs,
// workerThread. A null start counts as failed to connect (workerResult 20),
// so the worker wait answers with the connection error page at once instead
// of after the time-out; a message-as-text request (which has no error page)
// is answered not found. The table starts with the mail modules' own starts;
// tests put theirs in.
using WorkerStart = void (*)(Connection& c);
struct WorkerStarts {
    WorkerStart pop3;            // a POP3 exchange for c.settingsIndex
    WorkerStart pop3AllSettings; // the extra sets of a merged list
    WorkerStart smtp;            // the SMTP exchange of a posted form
};
WorkerStarts& worker_starts();
extern const WorkerStarts kMailWorkerStarts;
