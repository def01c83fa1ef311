// Connecting to a mail server (POP3, SMTP, poppassd) without ever blocking
// for long: the worker keeps looking at whether its page still wants the
// connection.
#pragma once
#include <functional>
#include <sys/socket.h>

// Seconds a mail worker may go without progress before its error page is
// written (`tarnbox serve --worker-timeout`). Set before the server starts.
extern int workerTimeoutSeconds;

socklen_t mail_address_length(const sockaddr_storage& address);

// Connects fd to address, waiting at most stepMs at a time; between waits
// keepTrying() says whether to go on. The socket is blocking again after a
// success. Returns false on refusal, error or when keepTrying() said no.
bool mail_connect(int fd, const sockaddr_storage& address, int stepMs,
                  const std::function<bool()>& keepTrying);
