// The byte stream between a browser and the gateway: plain TCP, or TLS when
// the HTTPS listener accepted the connection. Every read and write of a
// client socket goes through here, so pages need not know which it is.
#pragma once
#include <cstddef>
#include <mutex>
#include <sys/types.h>

struct ssl_st;
struct ssl_ctx_st;

// The browser's socket and, for HTTPS, its TLS session. The session is set
// when the HTTPS listener accepts and freed with the connection, so it never
// changes under a thread that writes a page; the lock keeps the connection's
// thread and its worker from calling into it at once.
struct ClientStream {
    int socket;
    ssl_st* tls;
    std::mutex tlsLock;
    bool finished; // ClientFinish has run
};

// ClientSend sends everything or returns false. ClientRecv returns the bytes
// read, 0 at the end, -1 on failure, -2 when nothing could be read yet (call
// again). ClientWait waits up to ms for something to read and counts the
// bytes TLS has already taken off the socket: > 0 readable, 0 nothing, < 0
// error.
bool ClientSend(ClientStream& s, const char* bytes, size_t n);
ssize_t ClientRecv(ClientStream& s, char* buffer, size_t size);
int ClientWait(ClientStream& s, int ms);

// A send to fd that can hand the peer no byte for seconds fails, so a
// browser that stops reading a large page cannot hold the thread until the
// idle time-out.
void BoundSendStall(int fd, int seconds);

// Gives the freshly accepted connection a TLS session of context; the
// handshake itself is left to the connection's thread. False when OpenSSL is
// out of memory.
bool ClientTlsAttach(ClientStream& s, ssl_ctx_st* context);
// True once the handshake is over (or for a plain connection).
bool ClientTlsReady(ClientStream& s);
// One step of the handshake, waiting at most about a second for the
// browser: 1 done, 0 call again, -1 failed (not TLS, a refused version, the
// peer gone).
int ClientTlsAcceptStep(ClientStream& s);
// Sends the close notice of a finished handshake; the session stays until
// ClientTlsFree, so a late writer finds a closed session, not freed memory.
void ClientTlsClose(ClientStream& s);
void ClientTlsFree(ClientStream& s);

// The answer is whole: the close notice, the rest of a corked segment and
// the end of the stream go out now, so the browser need not wait for the
// socket to be closed. Once; the socket stays open for whatever the browser
// still sends.
void ClientFinish(ClientStream& s);
