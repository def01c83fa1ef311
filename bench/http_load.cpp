// A small HTTP load generator for one-request-per-connection servers.
//
// wrk cannot be used on answers whose body ends where the server closes the
// connection (no Content-Length, as HTTP/1.0 allows): at that EOF it counts
// a read error and reconnects a second time, so the server accepts two
// connections per request and is measured doing twice the work. This tool
// reads every answer to EOF, as a browser does, and so treats both kinds of
// answer alike. It also keeps a count per client, which shows whether any
// client was starved while others were served.
//
//   http_load --port P --path /x [--conns C] [--threads T] [--seconds S]
//             [--expect-body N] [--timeout-ms MS]
//
// Prints one line in the same form as bench/wrk_report.lua. Latency runs
// from the start of connect() to the server's close, in microseconds.
#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <string>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

int64_t now_us() {
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

struct Options {
    int port = 0;
    std::string path = "/";
    int conns = 1;
    int threads = 1;
    double seconds = 5;
    long expectBody = -1;
    int timeoutMs = 10000;
};

struct Counters {
    uint64_t requests = 0, bytes = 0;
    uint64_t connect = 0, read = 0, write = 0, status = 0, timeout = 0, body = 0, resetLate = 0;
    std::vector<uint32_t> latencies;
    std::vector<uint64_t> perClient;
};

struct Conn {
    int fd = -1;
    int64_t start = 0;
    size_t sent = 0;
    std::string head;   // the answer up to the end of its header block
    size_t headLen = 0; // 0 until the header block is complete
    uint64_t received = 0;
    int status = 0;
    long contentLength = -1;
};

void parse_head(Conn& c) {
    size_t end = c.head.find("\r\n\r\n");
    if (end == std::string::npos) return;
    c.headLen = end + 4;
    if (c.head.compare(0, 5, "HTTP/") == 0) {
        size_t sp = c.head.find(' ');
        if (sp != std::string::npos) c.status = atoi(c.head.c_str() + sp + 1);
    }
    size_t pos = 0;
    while ((pos = c.head.find("\r\n", pos)) != std::string::npos && pos < end) {
        pos += 2;
        static const char kName[] = "content-length:";
        if (strncasecmp(c.head.c_str() + pos, kName, sizeof kName - 1) == 0)
            c.contentLength = atol(c.head.c_str() + pos + sizeof kName - 1);
    }
}

class Worker {
public:
    Worker(const Options& o, int count, int64_t deadline)
        : o_(o), deadline_(deadline), conns_(static_cast<size_t>(count)) {
        c_.perClient.assign(count, 0);
        request_ = "GET " + o.path + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(o.port) +
                   "\r\nConnection: close\r\n\r\n";
        addr_.sin_family = AF_INET;
        addr_.sin_port = htons(static_cast<uint16_t>(o.port));
        addr_.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    }

    Counters run() {
        ep_ = epoll_create1(EPOLL_CLOEXEC);
        for (int i = 0; i < static_cast<int>(conns_.size()); i++) start(i);
        std::vector<epoll_event> events(256);
        std::vector<char> buf(1 << 16);
        while (now_us() < deadline_) {
            std::vector<int> again;
            again.swap(retry_);
            for (int i : again) start(i);
            int n = epoll_wait(ep_, events.data(), static_cast<int>(events.size()),
                               retry_.empty() ? 50 : 1);
            for (int k = 0; k < n; k++) {
                int i = static_cast<int>(events[k].data.u32);
                Conn& c = conns_[i];
                if (c.fd < 0) continue;
                if (c.sent < request_.size()) {
                    writable(i);
                } else {
                    readable(i, buf);
                }
            }
            check_timeouts();
        }
        for (Conn& c : conns_)
            if (c.fd >= 0) close(c.fd);
        close(ep_);
        return std::move(c_);
    }

private:
    void start(int i) {
        Conn& c = conns_[i];
        c = Conn{};
        if (now_us() >= deadline_) return;
        c.start = now_us();
        c.fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (c.fd < 0) {
            c_.connect++;
            retry_.push_back(i);
            return;
        }
        int one = 1;
        setsockopt(c.fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        if (connect(c.fd, reinterpret_cast<sockaddr*>(&addr_), sizeof addr_) != 0 &&
            errno != EINPROGRESS) {
            fail(i, c_.connect);
            return;
        }
        epoll_event ev{};
        ev.events = EPOLLOUT;
        ev.data.u32 = static_cast<uint32_t>(i);
        epoll_ctl(ep_, EPOLL_CTL_ADD, c.fd, &ev);
    }

    void fail(int i, uint64_t& counter) {
        counter++;
        Conn& c = conns_[i];
        if (c.fd >= 0) close(c.fd); // closing also leaves the epoll set
        c.fd = -1;
        retry_.push_back(i);
    }

    void writable(int i) {
        Conn& c = conns_[i];
        int err = 0;
        socklen_t len = sizeof err;
        getsockopt(c.fd, SOL_SOCKET, SO_ERROR, &err, &len);
        if (err != 0) {
            fail(i, c_.connect);
            return;
        }
        ssize_t n = send(c.fd, request_.data() + c.sent, request_.size() - c.sent, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno != EAGAIN) fail(i, c_.write);
            return;
        }
        c.sent += static_cast<size_t>(n);
        if (c.sent == request_.size()) {
            epoll_event ev{};
            ev.events = EPOLLIN | EPOLLRDHUP;
            ev.data.u32 = static_cast<uint32_t>(i);
            epoll_ctl(ep_, EPOLL_CTL_MOD, c.fd, &ev);
        }
    }

    void readable(int i, std::vector<char>& buf) {
        Conn& c = conns_[i];
        for (;;) {
            ssize_t n = recv(c.fd, buf.data(), buf.size(), 0);
            if (n > 0) {
                c.received += static_cast<uint64_t>(n);
                if (c.headLen == 0) {
                    size_t take = std::min<size_t>(static_cast<size_t>(n), 16384 - c.head.size());
                    c.head.append(buf.data(), take);
                    parse_head(c);
                }
                continue;
            }
            if (n == 0) {
                finish(i, false);
                return;
            }
            if (errno == EAGAIN) return;
            if (errno == EINTR) continue;
            finish(i, true);
            return;
        }
    }

    // The server closed (or reset) the connection: the answer is whatever
    // arrived before.
    void finish(int i, bool reset) {
        Conn& c = conns_[i];
        int64_t t = now_us();
        uint64_t body = c.headLen ? c.received - c.headLen : 0;
        bool whole =
            c.headLen != 0 &&
            (c.contentLength >= 0 ? body == static_cast<uint64_t>(c.contentLength) : true) &&
            (o_.expectBody >= 0 ? body == static_cast<uint64_t>(o_.expectBody) : true);
        if (reset && !whole) {
            fail(i, c_.read);
            return;
        }
        if (reset) c_.resetLate++;
        if (t < deadline_) {
            c_.bytes += c.received;
            if (c.headLen == 0 || c.status != 200) {
                c_.status++;
            } else if (!whole) {
                c_.body++;
            } else {
                c_.requests++;
                c_.perClient[static_cast<size_t>(i)]++;
                c_.latencies.push_back(
                    static_cast<uint32_t>(std::min<int64_t>(t - c.start, UINT32_MAX)));
            }
        }
        close(c.fd);
        c.fd = -1;
        start(i);
    }

    void check_timeouts() {
        int64_t t = now_us();
        for (int i = 0; i < static_cast<int>(conns_.size()); i++) {
            Conn& c = conns_[i];
            if (c.fd >= 0 && t - c.start > int64_t{o_.timeoutMs} * 1000) fail(i, c_.timeout);
        }
    }

    const Options& o_;
    int64_t deadline_;
    std::vector<Conn> conns_;
    std::vector<int> retry_;
    std::string request_;
    sockaddr_in addr_{};
    int ep_ = -1;
    Counters c_;
};

bool parse_args(int argc, char** argv, Options& o) {
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string a = argv[i];
        const char* v = argv[i + 1];
        if (a == "--port")
            o.port = atoi(v);
        else if (a == "--path")
            o.path = v;
        else if (a == "--conns")
            o.conns = atoi(v);
        else if (a == "--threads")
            o.threads = atoi(v);
        else if (a == "--seconds")
            o.seconds = atof(v);
        else if (a == "--expect-body")
            o.expectBody = atol(v);
        else if (a == "--timeout-ms")
            o.timeoutMs = atoi(v);
        else
            return false;
    }
    if (argc % 2 == 0) return false;
    return o.port > 0 && o.conns > 0 && o.threads > 0 && o.seconds > 0;
}

} // namespace

int main(int argc, char** argv) {
    Options o;
    if (!parse_args(argc, argv, o)) {
        fprintf(stderr, "usage: http_load --port P --path /x [--conns C] [--threads T] "
                        "[--seconds S] [--expect-body N] [--timeout-ms MS]\n");
        return 2;
    }
    o.threads = std::min(o.threads, o.conns);
    int64_t begin = now_us();
    int64_t deadline = begin + static_cast<int64_t>(o.seconds * 1e6);
    std::vector<Counters> results(static_cast<size_t>(o.threads));
    std::vector<std::thread> threads;
    for (int t = 0; t < o.threads; t++) {
        int count = o.conns / o.threads + (t < o.conns % o.threads ? 1 : 0);
        threads.emplace_back([&o, &results, t, count, deadline] {
            Worker w(o, count, deadline);
            results[static_cast<size_t>(t)] = w.run();
        });
    }
    for (std::thread& t : threads) t.join();
    int64_t duration = std::max<int64_t>(deadline - begin, 1);

    Counters all;
    for (Counters& r : results) {
        all.requests += r.requests;
        all.bytes += r.bytes;
        all.connect += r.connect;
        all.read += r.read;
        all.write += r.write;
        all.status += r.status;
        all.timeout += r.timeout;
        all.body += r.body;
        all.resetLate += r.resetLate;
        all.latencies.insert(all.latencies.end(), r.latencies.begin(), r.latencies.end());
        all.perClient.insert(all.perClient.end(), r.perClient.begin(), r.perClient.end());
    }
    std::sort(all.latencies.begin(), all.latencies.end());
    auto pct = [&](double p) -> uint32_t {
        if (all.latencies.empty()) return 0;
        size_t k =
            static_cast<size_t>(p / 100.0 * static_cast<double>(all.latencies.size() - 1) + 0.5);
        return all.latencies[k];
    };
    uint64_t lo =
        all.perClient.empty() ? 0 : *std::min_element(all.perClient.begin(), all.perClient.end());
    uint64_t hi =
        all.perClient.empty() ? 0 : *std::max_element(all.perClient.begin(), all.perClient.end());
    printf("RESULT requests=%llu duration_us=%lld bytes=%llu p50_us=%u p99_us=%u max_us=%u "
           "connect=%llu read=%llu write=%llu status=%llu timeout=%llu body=%llu reset_late=%llu "
           "min_per_client=%llu max_per_client=%llu\n",
           static_cast<unsigned long long>(all.requests), static_cast<long long>(duration),
           static_cast<unsigned long long>(all.bytes), pct(50), pct(99),
           all.latencies.empty() ? 0 : all.latencies.back(),
           static_cast<unsigned long long>(all.connect), static_cast<unsigned long long>(all.read),
           static_cast<unsigned long long>(all.write), static_cast<unsigned long long>(all.status),
           static_cast<unsigned long long>(all.timeout), static_cast<unsigned long long>(all.body),
           static_cast<unsigned long long>(all.resetLate), static_cast<unsigned long long>(lo),
           static_cast<unsigned long long>(hi));
    return 0;
}
