#include "page/client_stream.h"
#include "base/socket_stream.h"

#include <cerrno>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>

namespace {

// How long one blocking TLS read may wait. The session sits on a blocking
// socket (the workers write pages with plain blocking calls); with this
// bound a browser that stops in the middle of a record cannot hold the
// thread past its request time-out.
constexpr int kTlsReadWaitSeconds = 1;

} // namespace

void BoundSendStall(int fd, int seconds) {
    timeval t{seconds, 0};
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &t, sizeof t);
}

bool ClientSend(ClientStream& s, const char* bytes, size_t n) {
    if (s.tls) {
        std::lock_guard<std::mutex> hold(s.tlsLock);
        return socket_stream_send(s.socket, s.tls, bytes, n);
    }
    while (n > 0) {
        ssize_t w = send(s.socket, bytes, n, MSG_NOSIGNAL);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        bytes += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

ssize_t ClientRecv(ClientStream& s, char* buffer, size_t size) {
    if (s.tls) {
        std::lock_guard<std::mutex> hold(s.tlsLock);
        return socket_stream_recv(s.socket, s.tls, buffer, size);
    }
    ssize_t n = recv(s.socket, buffer, size, 0);
    if (n < 0) return errno == EINTR ? -2 : -1;
    return n;
}

int ClientWait(ClientStream& s, int ms) {
    if (s.tls) {
        std::lock_guard<std::mutex> hold(s.tlsLock);
        // A record read for an earlier, shorter read leaves its rest inside
        // the session; the socket shows nothing of it.
        if (SSL_pending(s.tls) > 0 || SSL_has_pending(s.tls)) return 1;
    }
    pollfd p{s.socket, POLLIN, 0};
    int r = poll(&p, 1, ms);
    if (r < 0) return errno == EINTR ? 0 : -1;
    return r;
}

bool ClientTlsAttach(ClientStream& s, ssl_ctx_st* context) {
    SSL* ssl = SSL_new(context);
    if (!ssl || SSL_set_fd(ssl, s.socket) != 1) {
        SSL_free(ssl);
        ERR_clear_error();
        return false;
    }
    timeval t{kTlsReadWaitSeconds, 0};
    setsockopt(s.socket, SOL_SOCKET, SO_RCVTIMEO, &t, sizeof t);
    s.tls = ssl;
    return true;
}

bool ClientTlsReady(ClientStream& s) {
    if (!s.tls) return true;
    std::lock_guard<std::mutex> hold(s.tlsLock);
    return SSL_is_init_finished(s.tls);
}

int ClientTlsAcceptStep(ClientStream& s) {
    std::lock_guard<std::mutex> hold(s.tlsLock);
    ERR_clear_error();
    errno = 0;
    const int r = SSL_accept(s.tls);
    const int e = r == 1 ? SSL_ERROR_NONE : SSL_get_error(s.tls, r);
    const int saved = errno;
    ERR_clear_error();
    if (r == 1) {
        // Corked only now: the handshake's own flights must leave at once,
        // while the page's many small records are better packed into full
        // segments until the answer is closed.
        int on = 1;
        setsockopt(s.socket, IPPROTO_TCP, TCP_CORK, &on, sizeof on);
        return 1;
    }
    if (e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE) return 0;
    if (e == SSL_ERROR_SYSCALL && (saved == EAGAIN || saved == EWOULDBLOCK || saved == EINTR))
        return 0;
    return -1;
}

void ClientTlsClose(ClientStream& s) {
    if (!s.tls) return;
    std::lock_guard<std::mutex> hold(s.tlsLock);
    // Only a finished handshake has anything to close; after a failed one
    // the browser gets the TCP close alone.
    if (SSL_is_init_finished(s.tls)) SSL_shutdown(s.tls);
    ERR_clear_error();
}

void ClientTlsFree(ClientStream& s) {
    if (!s.tls) return;
    SSL_free(s.tls);
    s.tls = nullptr;
}

void ClientFinish(ClientStream& s) {
    if (s.finished || s.socket < 0) return;
    s.finished = true;
    ClientTlsClose(s);
    int off = 0;
    setsockopt(s.socket, IPPROTO_TCP, TCP_CORK, &off, sizeof off);
    shutdown(s.socket, SHUT_WR);
}
