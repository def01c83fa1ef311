// The SMTP client: one plain exchange (HELO, MAIL FROM, RCPT TO per
// recipient, DATA, QUIT) per posted compose form, on a worker thread that
// writes the result page while the exchange goes on.
#pragma once
#include "mail/net/mail_link.h"
#include "page/connection.h"

// On the request's thread: resolve the server and start the worker. Sets
// workerResult (kSmtpHostNotFound, kSmtpConnectFailed) when it cannot.
void start_smtp(Connection& c);
// The worker's body: connect, run the exchange, close the page.
void smtp_worker(Connection& c);

// Feeds received bytes to the reply reader; complete reply lines are acted
// on at once. Returns 1 when the exchange is over, else 0.
int smtp_feed(Connection& c, const char* bytes, size_t n);
// Acts on one complete reply line in c.line. Returns 1 when the exchange is
// over.
int smtp_reply_line(Connection& c);
// Sends one command line as it stands (CR LF included). A command holding CR
// or LF anywhere but in its final CR LF, or lacking that end (it was cut to
// fit), is never sent: the exchange ends as after a refusing reply (the error
// block with an empty reply, QUIT, kSmtpQuitSent) and false is returned.
// Callers therefore set the next step before they send.
bool smtp_send(Connection& c, const char* command);

// Starts TLS on the exchange's socket against c.mail.serverName; on failure
// c.mail.tlsFailure says why.
bool smtp_start_tls(Connection& c);

// The page parts the exchange writes.
void smtp_success_page(Connection& c);
void smtp_error_block(Connection& c, const char* reply);

// Builds "To: %s\r\n" and its siblings from the posted lists.
void smtp_recipient_lines(Connection& c);
