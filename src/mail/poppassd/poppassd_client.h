// The poppassd client: changes the password of a POP3 account on the POP3
// server host (TCP port 106) when a gateway password changes.
#pragma once
#include "mail/net/mail_link.h"
#include "mail/poppassd/poppassd_exchange.h"
#include "page/connection.h"

constexpr int kPoppassdPort = 106;

// On the caller's thread: picks the POP3 server of settings set setIndex
// (the set's own name when per_user_servers is on, filled from pop3_server
// while empty; otherwise pop3_server), resolves it without asking the DNS for
// names that cannot exist, makes the socket and starts PoppassdWorker. The
// inputs are c.formSlots[0] (user), [1] (old password) and [2] (new
// password); they must stay put until the worker has ended.
// Afterwards c.workerResult is kPoppassdHostNotFound (no worker), or
// kPoppassdConnectFailed when the worker could not be started (no worker) or
// has been started (c.workerRunning set, handle in c.workerThread).
void StartPoppassd(Connection& c, int setIndex);

// The worker's body: connects (giving up after workerTimeoutSeconds), runs
// the exchange until the reply to QUIT, a close, an error or
// workerTimeoutSeconds without a reply line, and publishes each step in
// c.workerResult. Once connected it leaves the refusal text (empty unless
// refused) in the POP3 error text of settings set 1 of c.user. Closes the
// socket, sets c.mail.socket to -1 and clears c.workerRunning as its very
// last action.
void PoppassdWorker(Connection& c);

// The same exchange on the caller's thread, for the administrator's command
// line: host is a name or address literal, the port is kPoppassdPort.
// Returns the outcome: kPoppassdChanged, kPoppassdHostNotFound,
// kPoppassdConnectFailed, kPoppassdRefused with the server's text in refusal,
// or the step the server left off at (1 to 4) when it closed or went silent.
int RunPoppassd(const char* host, const char* user, const char* oldPassword,
                const char* newPassword, char (&refusal)[kPoppassdRefusalSize]);
