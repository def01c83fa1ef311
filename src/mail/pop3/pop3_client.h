// The POP3 client: one exchange per mail page, on a worker thread that writes
// the page while the reply lines arrive.
#pragma once
#include "server/connection.h"

// On the request's thread: resolve, connect setup, start the worker.
void start_pop3(Connection& c);
// Extra exchanges for settings sets 1 and 2 of a merged list.
void start_pop3_all_settings(Connection& c);
int pop3_poll(Connection& c);
void pop3_advance(Connection& c);
void pop3_error_page(Connection& c);
// Sends one command line (CR LF added).
void pop3_send(Connection& c, const char* command);
// Installs the worker starts and the list hooks into the dispatcher.
void install_pop3_client();
