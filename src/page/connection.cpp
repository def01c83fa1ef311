#include "page/connection.h"
#include "page/client_stream.h"
#include <chrono>
#include <cstring>
#include <mutex>

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
