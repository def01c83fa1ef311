#include "host/control_socket.h"

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace {

// A request is small: command words and a few typed lines.
constexpr uint32_t kMaxMessage = 1u << 20;
constexpr int kReadTimeoutMs = 5000;

std::atomic<bool> gRunning{false};
int gListen = -1;
std::string gPath;
std::thread gThread;

void PutString(std::string& m, const std::string& s) {
    const uint32_t n = static_cast<uint32_t>(s.size());
    m.append(reinterpret_cast<const char*>(&n), sizeof n);
    m += s;
}

bool TakeString(const std::string& m, size_t& at, std::string& s) {
    uint32_t n = 0;
    if (m.size() - at < sizeof n) return false;
    memcpy(&n, m.data() + at, sizeof n);
    at += sizeof n;
    if (m.size() - at < n) return false;
    s.assign(m, at, n);
    at += n;
    return true;
}

bool WriteAll(int fd, const std::string& m) {
    size_t done = 0;
    while (done < m.size()) {
        const ssize_t w = send(fd, m.data() + done, m.size() - done, MSG_NOSIGNAL);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        done += static_cast<size_t>(w);
    }
    return true;
}

// One framed message: its length, then its bytes.
bool SendMessage(int fd, const std::string& body) {
    std::string m;
    PutString(m, body);
    return WriteAll(fd, m);
}

bool ReadExact(int fd, char* p, size_t n, int timeoutMs) {
    while (n > 0) {
        if (timeoutMs >= 0) {
            pollfd w{fd, POLLIN, 0};
            if (poll(&w, 1, timeoutMs) <= 0) return false;
        }
        const ssize_t r = recv(fd, p, n, 0);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        p += r;
        n -= static_cast<size_t>(r);
    }
    return true;
}

bool ReceiveMessage(int fd, std::string& body, int timeoutMs) {
    uint32_t n = 0;
    if (!ReadExact(fd, reinterpret_cast<char*>(&n), sizeof n, timeoutMs) || n > kMaxMessage)
        return false;
    body.assign(n, '\0');
    return ReadExact(fd, body.data(), n, timeoutMs);
}

std::string PackRequest(const std::vector<std::string>& words,
                        const std::deque<std::string>& input) {
    std::string m;
    PutString(m, std::to_string(words.size()));
    for (const auto& w : words) PutString(m, w);
    PutString(m, std::to_string(input.size()));
    for (const auto& l : input) PutString(m, l);
    return m;
}

bool UnpackList(const std::string& m, size_t& at, size_t limit, std::vector<std::string>& out) {
    std::string count;
    if (!TakeString(m, at, count) || count.empty() || count.size() > 6) return false;
    const unsigned long n = strtoul(count.c_str(), nullptr, 10);
    if (n > limit) return false;
    for (unsigned long i = 0; i < n; i++) {
        std::string s;
        if (!TakeString(m, at, s)) return false;
        out.push_back(std::move(s));
    }
    return true;
}

// Only the gateway's own user, or root, may give it commands.
bool PeerAllowed(int fd) {
    ucred cred{};
    socklen_t length = sizeof cred;
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &length) != 0) return false;
    return cred.uid == geteuid() || cred.uid == 0;
}

void Serve(int client, ControlRunner runner) {
    if (!PeerAllowed(client)) return;
    std::string request;
    if (!ReceiveMessage(client, request, kReadTimeoutMs)) return;
    size_t at = 0;
    std::vector<std::string> words, lines;
    if (!UnpackList(request, at, 4096, words) || !UnpackList(request, at, 64, lines)) return;
    ControlReply reply = runner(words, std::deque<std::string>(lines.begin(), lines.end()));
    std::string m;
    PutString(m, std::to_string(reply.status));
    PutString(m, reply.out);
    PutString(m, reply.err);
    SendMessage(client, m);
}

void ControlMain(ControlRunner runner) {
    while (gRunning) {
        pollfd p{gListen, POLLIN, 0};
        if (poll(&p, 1, 200) <= 0) continue;
        const int client = accept4(gListen, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) continue;
        Serve(client, runner);
        close(client);
    }
}

} // namespace

bool StartControlSocket(const std::string& path, ControlRunner runner) {
    sockaddr_un a{};
    if (path.size() >= sizeof a.sun_path) {
        errno = ENAMETOOLONG;
        return false;
    }
    a.sun_family = AF_UNIX;
    memcpy(a.sun_path, path.c_str(), path.size() + 1);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    // The home's lock is ours, so a socket file left there belongs to a
    // gateway that ended without cleaning up.
    unlink(path.c_str());
    const mode_t old = umask(077);
    const int r = bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    umask(old);
    if (r != 0 || chmod(path.c_str(), 0600) != 0 || listen(fd, 8) != 0) {
        const int saved = errno;
        close(fd);
        unlink(path.c_str());
        errno = saved;
        return false;
    }
    gListen = fd;
    gPath = path;
    gRunning = true;
    gThread = std::thread(ControlMain, runner);
    return true;
}

void StopControlSocket() {
    if (!gRunning.exchange(false)) return;
    if (gThread.joinable()) gThread.join();
    close(gListen);
    gListen = -1;
    unlink(gPath.c_str());
}

bool ForwardCommand(const std::string& path, const std::vector<std::string>& words,
                    const std::deque<std::string>& input, ControlReply& reply) {
    sockaddr_un a{};
    if (path.size() >= sizeof a.sun_path) return false;
    a.sun_family = AF_UNIX;
    memcpy(a.sun_path, path.c_str(), path.size() + 1);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        close(fd);
        return false;
    }
    std::string answer;
    // The gateway may take its time (a bulk registration writes the data
    // file): no time limit on the answer.
    const bool ok = SendMessage(fd, PackRequest(words, input)) && ReceiveMessage(fd, answer, -1);
    close(fd);
    if (!ok) {
        reply.status = 1;
        reply.err = "動作中のゲートウェイから応答がありません。\n";
        return true;
    }
    size_t at = 0;
    std::string status;
    if (!TakeString(answer, at, status) || !TakeString(answer, at, reply.out) ||
        !TakeString(answer, at, reply.err)) {
        reply.status = 1;
        return true;
    }
    reply.status = atoi(status.c_str());
    return true;
}
