#include "server/connection.h"
#include "host/global_lock.h"
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <sys/socket.h>
#include <unistd.h>

Connection* NewConnection(int clientSocket) {
    // calloc of a block this size maps fresh zero pages, so the large buffers
    // cost nothing until a request actually uses them.
    void* mem = calloc(1, sizeof(Connection));
    if (!mem) return nullptr;
    Connection* c = new (mem) Connection;
    c->clientSocket = clientSocket;
    c->mailSocket = -1;
    c->file = -1;
    c->route = Route::NotFound;
    c->state = PageState::Receiving;
    c->bodyRemaining = -1;
    return c;
}

void FreeConnection(Connection* c) {
    if (!c) return;
    if (c->workerThread.joinable()) c->workerThread.join();
    std::lock_guard<std::recursive_mutex> hold(globalLock);
    c->~Connection();
    free(c);
}

void SendRaw(Connection& c, const char* bytes, size_t n) {
    if (n == 0) return;
    if (c.clientSocket < 0) {
        if (c.captureForTest) c.captureForTest->append(bytes, n);
        return;
    }
    while (n > 0) {
        ssize_t w = send(c.clientSocket, bytes, n, MSG_NOSIGNAL);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return;
        bytes += w;
        n -= static_cast<size_t>(w);
    }
}

void SendRaw(Connection& c, const char* text) {
    SendRaw(c, text, strlen(text));
}
