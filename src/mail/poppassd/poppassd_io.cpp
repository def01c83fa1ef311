#include "mail/poppassd/poppassd_io.h"
#include "base/date/local_seconds.h"
#include "mail/compose/outgoing.h"
#include "mail/net/mail_connect.h"
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// A silent server is looked at again this often (the classic select step).
constexpr int kWaitStepMs = 1000;

int ms_until(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return static_cast<int>(std::clamp<int64_t>(left.count(), 0, kWaitStepMs));
}

void send_to_socket(void* context, const char* bytes, size_t n) {
    int fd = *static_cast<int*>(context);
    while (n > 0) {
        ssize_t w = send(fd, bytes, n, MSG_NOSIGNAL);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return;
        bytes += w;
        n -= static_cast<size_t>(w);
    }
}

} // namespace

bool poppassd_connect(int fd, const sockaddr_storage& address, int timeoutSeconds) {
    const auto deadline = Clock::now() + std::chrono::seconds(std::max(timeoutSeconds, 1));
    return mail_connect(fd, address, 200, [&] { return Clock::now() < deadline; });
}

void poppassd_converse(int fd, PoppassdExchange& x, int stallSeconds, std::atomic<uint16_t>* step,
                       std::atomic<int32_t>* activity) {
    x.send = send_to_socket;
    x.sendContext = &fd;
    const auto stall = std::chrono::seconds(std::max(stallSeconds, 1));
    auto deadline = Clock::now() + stall;
    char buffer[kPoppassdLineSize];
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        int k = poll(&p, 1, ms_until(deadline));
        if (k < 0 && errno != EINTR) return;
        if (k <= 0) {
            if (Clock::now() >= deadline) return;
            continue;
        }
        ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) return;
        uint16_t before = x.step;
        int over = poppassd_feed(x, buffer, static_cast<size_t>(n));
        if (step) *step = x.step;
        // Every reply line moves the step on or ends the exchange, so an
        // unchanged step means no complete line: a server trickling bytes
        // does not hold the worker.
        if (x.step == before && !over) continue;
        if (activity) *activity = static_cast<int32_t>(local_seconds());
        if (over) return;
        deadline = Clock::now() + stall;
    }
}
