#include "base/socket_stream.h"

#include <cerrno>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>

bool socket_stream_send(int fd, ssl_st* session, const char* bytes, size_t n) {
    while (n > 0) {
        if (session) {
            ERR_clear_error();
            const int w = SSL_write(session, bytes, static_cast<int>(n > 1 << 30 ? 1 << 30 : n));
            if (w <= 0) return false;
            bytes += w;
            n -= static_cast<size_t>(w);
            continue;
        }
        const ssize_t w = send(fd, bytes, n, MSG_NOSIGNAL);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        bytes += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

ssize_t socket_stream_recv(int fd, ssl_st* session, char* buffer, size_t size) {
    if (!session) {
        const ssize_t n = recv(fd, buffer, size, 0);
        if (n < 0) return errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK ? -2 : -1;
        return n;
    }
    ERR_clear_error();
    const int n = SSL_read(session, buffer, static_cast<int>(size > 1 << 30 ? 1 << 30 : size));
    if (n > 0) return n;
    switch (SSL_get_error(session, n)) {
    case SSL_ERROR_WANT_READ:
    case SSL_ERROR_WANT_WRITE:
        return -2;
    case SSL_ERROR_ZERO_RETURN:
        return 0;
    case SSL_ERROR_SYSCALL:
        if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) return -2;
        return n == 0 ? 0 : -1;
    default:
        return -1;
    }
}

bool socket_stream_pending(ssl_st* session) {
    return session && SSL_pending(session) > 0;
}

int socket_stream_wait(int fd, ssl_st* session, int ms) {
    if (socket_stream_pending(session)) return 1;
    pollfd p{fd, POLLIN, 0};
    const int k = poll(&p, 1, ms);
    if (k < 0) return errno == EINTR ? 0 : -1;
    return k;
}
