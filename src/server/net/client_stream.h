// The byte stream between a browser and the gateway: plain TCP, or TLS when
// the HTTPS listener accepted the connection. Every read and write of a
// client socket goes through here, so pages need not know which it is.
#pragma once
#include "server/connection.h"
#include <cstddef>
#include <sys/types.h>

struct ssl_ctx_st;

// ClientSend sends everything or returns false. ClientRecv returns the bytes
// read, 0 at the end, -1 on failure, -2 when nothing could be read yet (call
// again). ClientWait waits up to ms for something to read and counts the
// bytes TLS has already taken off the socket: > 0 readable, 0 nothing, < 0
// error.
bool ClientSend(Connection& c, const char* bytes, size_t n);
ssize_t ClientRecv(Connection& c, char* buffer, size_t size);
int ClientWait(Connection& c, int ms);

// A send to fd that can hand the peer no byte for seconds fails, so a
// browser that stops reading a large page cannot hold the thread until the
// idle time-out.
void BoundSendStall(int fd, int seconds);

// Gives the freshly accepted connection a TLS session of context; the
// handshake itself is left to the connection's thread. False when OpenSSL is
// out of memory.
bool ClientTlsAttach(Connection& c, ssl_ctx_st* context);
// True once the handshake is over (or for a plain connection).
bool ClientTlsReady(Connection& c);
// One step of the handshake, waiting at most about a second for the
// browser: 1 done, 0 call again, -1 failed (not TLS, a refused version, the
// peer gone).
int ClientTlsAcceptStep(Connection& c);
// Sends the close notice of a finished handshake; the session stays until
// ClientTlsFree, so a late writer finds a closed session, not freed memory.
void ClientTlsClose(Connection& c);
void ClientTlsFree(Connection& c);
