#include "server/connection.h"
#include "base/global_lock.h"
#include "server/net/client_stream.h"
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

// Contexts are large; reusing them spares the allocator, the page faults and
// the clearing of buffers a request never touches.
std::mutex gSpareMutex;
// Never destroyed: the spare blocks stay reachable until the process ends.
std::vector<void*>& gSpare = *new std::vector<void*>;
constexpr size_t kMaxSpare = 64;

void reset(Connection* c) {
    memset(static_cast<void*>(c), 0, offsetof(Connection, line));
    c->line[0] = c->fieldName[0] = c->receiveBuffer[0] = 0;
    c->filter.clear();
    c->deleteList[0] = c->messageText[0] = c->quotationText[0] = 0;
    for (auto& slot : c->formSlots) slot[0] = 0;
}

} // namespace

Connection* NewConnection(int clientSocket) {
    void* mem = nullptr;
    {
        std::lock_guard<std::mutex> hold(gSpareMutex);
        if (!gSpare.empty()) {
            mem = gSpare.back();
            gSpare.pop_back();
        }
    }
    if (mem) {
        reset(static_cast<Connection*>(mem));
    } else {
        // Fresh blocks of this size are mapped zero pages: untouched buffers
        // cost no memory.
        mem = calloc(1, sizeof(Connection));
        if (!mem) return nullptr;
    }
    Connection* c = new (mem) Connection;
    c->client.socket = clientSocket;
    c->mail.socket = -1;
    c->file = -1;
    c->route = Route::NotFound;
    c->state = PageState::Receiving;
    c->bodyRemaining = -1;
    return c;
}

uint32_t WakeCount(Connection& c) {
    std::lock_guard<std::mutex> hold(c.wakeLock);
    return c.wakeCount;
}

void WakeConnection(Connection& c) {
    std::lock_guard<std::mutex> hold(c.wakeLock);
    c.wakeCount++;
    c.wake.notify_all();
}

void WorkerFinished(Connection& c) {
    FlushClient(c);
    std::lock_guard<std::mutex> hold(c.wakeLock);
    c.workerRunning = false;
    c.wakeCount++;
    c.wake.notify_all();
}

void WaitForWake(Connection& c, uint32_t seen, int ms) {
    std::unique_lock<std::mutex> hold(c.wakeLock);
    c.wake.wait_for(hold, std::chrono::milliseconds(ms), [&] { return c.wakeCount != seen; });
}

void FreeConnection(Connection* c) {
    if (!c) return;
    if (c->workerThread.joinable()) c->workerThread.join();
    if (c->connectionThread.joinable()) c->connectionThread.join();
    ClientTlsFree(c->client);
    c->~Connection();
    {
        std::lock_guard<std::mutex> hold(gSpareMutex);
        if (gSpare.size() < kMaxSpare) {
            gSpare.push_back(c);
            return;
        }
    }
    std::lock_guard<std::recursive_mutex> hold(globalLock);
    free(c);
}

void SendRaw(Connection& c, const char* bytes, size_t n) {
    if (n == 0) return;
    if (c.client.socket < 0) {
        if (c.captureForTest) c.captureForTest->append(bytes, n);
        return;
    }
    // The worker and, on a stall, the connection's thread may both write.
    std::lock_guard<std::mutex> hold(c.stageLock);
    if (n > static_cast<size_t>(kSendStageSize - c.staged)) {
        if (c.staged > 0) ClientSend(c.client, c.stage, static_cast<size_t>(c.staged));
        c.staged = 0;
    }
    if (n >= static_cast<size_t>(kSendStageSize)) {
        ClientSend(c.client, bytes, n);
        return;
    }
    memcpy(c.stage + c.staged, bytes, n);
    c.staged += static_cast<int>(n);
}

void FlushClient(Connection& c) {
    std::lock_guard<std::mutex> hold(c.stageLock);
    if (c.staged > 0 && c.client.socket >= 0)
        ClientSend(c.client, c.stage, static_cast<size_t>(c.staged));
    c.staged = 0;
}

void EndAnswer(Connection& c) {
    std::lock_guard<std::mutex> hold(c.stageLock);
    if (c.client.socket < 0) return;
    if (c.staged > 0) ClientSend(c.client, c.stage, static_cast<size_t>(c.staged));
    c.staged = 0;
    ClientFinish(c.client);
}

void SendRaw(Connection& c, const char* text) {
    SendRaw(c, text, strlen(text));
}
