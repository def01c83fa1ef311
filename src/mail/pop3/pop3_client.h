// The POP3 client: one exchange per mail page, on a worker thread that writes
// the page while the reply lines arrive.
#pragma once
#include "mail/list/list_state.h"
#include "mail/net/mail_link.h"
#include "mail/view/view_state.h"
#include "page/connection.h"
#include <string>

// On the request's thread: resolve, connect setup, start the worker.
void start_pop3(Connection& c);
// Extra exchanges for settings sets 1 and 2 of a merged list.
void start_pop3_all_settings(Connection& c);
// Splits a posted delete list ("a3,b12,...") by settings letter into one list
// per set, each entry a number and ","; an entry without a letter belongs to
// set routed.
void pop3_split_delete_list(const char* list, int routed, char (&out)[kSettingsSets][kLineSize]);
// The worker thread's body: connect, log in, run the page's commands, close
// the page. Its very last action clears c.workerRunning.
void pop3_worker(Connection& c);
// Reads what the server sent and feeds it on; 1 once QUIT was answered, -1
// when the stream ended or failed, else 0.
int pop3_poll(Connection& c);
// The exchange itself, fed bytes in any pieces: complete lines go to their
// handlers. Returns 1 when a line answered QUIT (the rest is not read), else
// 0. Bytes of the old stream after an STLS answer are dropped.
int pop3_feed(Connection& c, const char* bytes, size_t n);
// Hands the complete line in c.line to its handler. Returns 1 when the line
// answered QUIT, else 0.
int pop3_dispatch_line(Connection& c);
void pop3_advance(Connection& c);
void pop3_error_page(Connection& c);
// Starts TLS on the exchange's socket against c.mail.serverName; on failure
// c.mail.tlsFailure says why.
bool pop3_start_tls(Connection& c);
// Sends one command line (CR LF added). A command holding CR or LF, or one
// too long for the line buffer, is never sent, neither whole nor in part:
// the exchange ends as after a "-ERR" to it (pop3_error_page with an empty
// server text, then QUIT), and false is returned. Callers therefore set the
// next step before they send, so that the refusal's Quitting stands.
bool pop3_send(Connection& c, const char* command);
// Sends command lines already ended by CR LF and known to be safe (numbers),
// as one write.
void pop3_send_batch(Connection& c, const std::string& lines);
// Asks CAPA once per exchange; true when it was sent and its reply will
// resume the page (the list's TOPs, or the deletion through pop3_advance).
bool pop3_ask_capabilities(Connection& c);
// Carries out what the received list asked for next: the commands of the
// list are sent here, never by the list itself.
void pop3_list_asks(Connection& c, ListAsk ask);
// The same for the message view: the RETR of a found part, the TOPs of the
// search for divided mail (pipelined when the server allows) and the QUIT.
void pop3_view_asks(Connection& c, ViewAsk ask);

// The APOP digest of timestamp followed by password: 32 lower-case hex digits
// and a NUL.
void apop_digest(const char* timestamp, const char* password, char (&hex)[33]);

// A server name that can be handed to the resolver: dot-separated labels of
// letters, digits, "-" and "_", none empty, none in the reserved top-level
// domain "invalid". Anything else fails without a lookup.
bool pop3_name_valid(const char* name);
// The address of name at port: an IPv4 or IPv6 literal (brackets allowed)
// directly, any other valid name through the resolver (first address).
// Returns false when the name does not resolve.
bool pop3_resolve(const char* name, int port, sockaddr_storage& out);
