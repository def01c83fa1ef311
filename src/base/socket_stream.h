// The byte stream of a connected socket that is either plain or TLS, the
// same for a browser's connection as for a mail server's.
#pragma once
#include <cstddef>
#include <sys/types.h>

struct ssl_st;

// The stream: with a session the bytes go through TLS, else straight to fd.
// socket_stream_send sends everything or returns false. socket_stream_recv
// returns the bytes read, 0 at the end, -1 on failure, -2 when nothing can be
// read yet (call again after the socket is readable).
bool socket_stream_send(int fd, ssl_st* session, const char* bytes, size_t n);
ssize_t socket_stream_recv(int fd, ssl_st* session, char* buffer, size_t size);
// Whether bytes are waiting inside the TLS session, which poll cannot see.
bool socket_stream_pending(ssl_st* session);
// Waits up to ms for something to read: > 0 readable, 0 nothing, < 0 error.
int socket_stream_wait(int fd, ssl_st* session, int ms);
