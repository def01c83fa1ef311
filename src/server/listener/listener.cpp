#include "server/listener/listener.h"
#include "base/connection_count.h"
#include "base/date/local_seconds.h"
#include "base/global_lock.h"
#include "mail/net/mail_link.h"
#include "mail/pop3/extra_runs.h"
#include "mail/view/message_view.h"
#include "page/client_stream.h"
#include "page/connection_list.h"
#include "server/files/static_file.h"
#include "server/listener/crowding.h"
#include "server/request/request_reader.h"
#include "server/route/dispatcher.h"
#include "store/data_file.h"
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

std::atomic<bool> serverRunning{false};
std::atomic<int> idleTimeoutSeconds{600};
std::atomic<int> requestTimeoutSeconds{60};
std::atomic<int> maxConnections{1000};

namespace {

std::atomic<int> gListenSocket{-1};
std::thread gListener;
// The HTTPS listener beside the plain one, when the administrator asked for
// it; the context is read once at start and lives until the process ends.
std::atomic<int> gHttpsSocket{-1};
std::thread gHttpsListener;
ssl_ctx_st* gHttpsContext = nullptr;
std::thread gMonitor;

int64_t now_ms() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void sleep_ms(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// States in which the page waits for something other than this thread.
bool is_waiting(PageState s) {
    switch (s) {
    case PageState::ListWait:
    case PageState::MessageWait:
    case PageState::SendWait:
    case PageState::DeleteWait:
    case PageState::TextWait:
    case PageState::SetupPasswordWait:
    case PageState::NewUserCheckWait:
    case PageState::ExtraList2:
    case PageState::ExtraList3:
    case PageState::DownloadStart:
        return true;
    default:
        return false;
    }
}

// How long the connection's thread sleeps in a waiting state before it looks
// again. What it waits for wakes it at once (a worker's end, the end of a
// further set's exchange, the file of a download written), and the only
// other thing its look finds is the stall time-out, which counts whole
// seconds; waking a hundred times a second for it cost a busy machine more
// than the exchange.
constexpr int kWaitBoundMs = 250;

void wait_for_progress(Connection& c, PageState s, uint32_t seen) {
    switch (s) {
    case PageState::ExtraList2:
        extra_run_wait(&c, 1, kWaitBoundMs);
        return;
    case PageState::ExtraList3:
        extra_run_wait(&c, 2, kWaitBoundMs);
        return;
    case PageState::DownloadStart:
        DownloadStartWait(c, kWaitBoundMs);
        return;
    default:
        WaitForWake(c, seen, kWaitBoundMs);
        return;
    }
}

// Ends the answer without losing it: a plain close() with unread request
// bytes in the socket would reset the connection and could discard the
// page the client has not read yet.
void close_client(Connection& c) {
    int fd = c.client.socket;
    if (fd < 0) return;
    // The close notice goes first, so a browser can tell a whole page from
    // one cut off; what the drain below reads is thrown away, TLS or not.
    ClientFinish(c.client);
    pollfd p{fd, POLLIN, 0};
    char sink[4096];
    int64_t until = now_ms() + 200;
    while (now_ms() < until && poll(&p, 1, 50) > 0)
        if (recv(fd, sink, sizeof sink, MSG_DONTWAIT) <= 0) break;
    c.client.socket = -1;
    close(fd);
}

void ConnectionThreadMain(Connection* c) {
    int r = 0;
    int64_t started = now_ms();
    while (serverRunning) {
        c->lastActivity = static_cast<int32_t>(local_seconds());
        r = ReceiveStep(*c);
        if (r != 0) break;
        if (now_ms() - started > int64_t{requestTimeoutSeconds} * 1000) {
            r = -1;
            break;
        }
    }
    if (r == 1) {
        while (serverRunning && c->client.socket >= 0) {
            PageState s = c->state;
            // A complete request that led to no page (a POST to an unknown
            // path) gets no answer; holding it open until the idle time-out
            // would only tie up a thread.
            if (s == PageState::Done || s == PageState::Closing || s == PageState::Receiving) break;
            const uint32_t seen = WakeCount(*c);
            Dispatcher(*c);
            FlushClient(*c);
            if (c->state == s && is_waiting(s)) wait_for_progress(*c, s, seen);
        }
    }
    // The worker, if any, writes its page to the socket itself; wait for it
    // before the socket goes.
    for (uint32_t seen = WakeCount(*c); c->workerRunning; seen = WakeCount(*c))
        WaitForWake(*c, seen, 10);
    FlushClient(*c);
    close_client(*c);
    c->state = PageState::Closing;
    c->connectionThreadEnded = true;
}

// Connection threads are kept and reused: creating a thread and its stack for
// every request cost more than the request itself.
struct ThreadPool {
    std::mutex m;
    std::condition_variable work;
    std::condition_variable gone;
    std::deque<Connection*> queue;
    int idle = 0;
    int threads = 0;
    bool stopping = false;
} gPool;

constexpr int kIdleThreadSeconds = 30;
constexpr size_t kThreadStack = 512 * 1024;

void* PoolThreadMain(void*) {
    std::unique_lock<std::mutex> lock(gPool.m);
    for (;;) {
        gPool.idle++;
        bool woke = gPool.work.wait_for(lock, std::chrono::seconds(kIdleThreadSeconds),
                                        [] { return gPool.stopping || !gPool.queue.empty(); });
        gPool.idle--;
        if (gPool.queue.empty() && (gPool.stopping || !woke)) break;
        Connection* c = gPool.queue.front();
        gPool.queue.pop_front();
        lock.unlock();
        ConnectionThreadMain(c);
        lock.lock();
    }
    gPool.threads--;
    gPool.gone.notify_all();
    return nullptr;
}

// Hands c to an idle thread, starting one when none is free. Returns false
// when no thread could be started.
bool RunConnection(Connection* c) {
    std::lock_guard<std::mutex> hold(gPool.m);
    if (gPool.idle <= static_cast<int>(gPool.queue.size())) {
        pthread_attr_t attr;
        pthread_attr_init(&attr);
        pthread_attr_setstacksize(&attr, kThreadStack);
        pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
        pthread_t id;
        int r = pthread_create(&id, &attr, PoolThreadMain, nullptr);
        pthread_attr_destroy(&attr);
        if (r != 0) return false;
        gPool.threads++;
    }
    gPool.queue.push_back(c);
    gPool.work.notify_one();
    return true;
}

void StopPool() {
    std::unique_lock<std::mutex> lock(gPool.m);
    gPool.stopping = true;
    gPool.work.notify_all();
    gPool.gone.wait_for(lock, std::chrono::seconds(5), [] { return gPool.threads == 0; });
}

// A browser on the HTTPS port that meets a full house gets the TCP close
// alone: a text before the handshake would mean nothing to it.
void refuse(int fd, bool https) {
    static const char busy[] = "Busy!\r\n";
    if (!https) send(fd, busy, sizeof busy - 1, MSG_NOSIGNAL);
}

// Room for one more connection: below the ceiling, or once the connection
// that waited longest for its request has given way.
bool make_room() {
    if (connection_count() < maxConnections) return true;
    std::lock_guard<std::recursive_mutex> hold(globalLock);
    Connection* stalled = OldestUnfinishedRequest(first_connection(), now_ms() - kGiveWayAfterMs);
    if (!stalled) return false;
    GiveWay(*stalled);
    return true;
}

void ListenerMain(int sock, bool https) {
    while (serverRunning) {
        sockaddr_storage peer{};
        socklen_t len = sizeof peer;
        int fd = accept4(sock, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED) continue;
            if (errno == EMFILE || errno == ENFILE || errno == ENOMEM || errno == ENOBUFS) {
                sleep_ms(10);
                continue;
            }
            return; // the listening socket was closed
        }
        Connection* c = make_room() ? NewConnection(fd) : nullptr;
        if (c && https && !ClientTlsAttach(c->client, gHttpsContext)) {
            FreeConnection(c);
            c = nullptr;
        }
        if (!c) {
            refuse(fd, https);
            close(fd);
            continue;
        }
        c->clientAddress = peer;
        c->lastActivity = static_cast<int32_t>(local_seconds());
        c->receiveStarted = now_ms();
        BoundSendStall(fd, requestTimeoutSeconds);
        // Header lines and page pieces are written one by one; corking lets
        // the kernel fill whole segments until the answer is closed. (TLS
        // corks once its handshake is over.)
        int on = 1;
        if (!https) setsockopt(fd, IPPROTO_TCP, TCP_CORK, &on, sizeof on);
        AppendConnection(c);
        if (!RunConnection(c)) {
            refuse(fd, https);
            c->state = PageState::Closing;
            c->connectionThreadEnded = true;
        }
    }
}

std::vector<Connection*> snapshot() {
    std::vector<Connection*> all;
    std::lock_guard<std::recursive_mutex> hold(globalLock);
    for (Connection* c = first_connection(); c; c = c->next) all.push_back(c);
    return all;
}

void unlink_and_free(Connection* c) {
    if (c->connectionThread.joinable()) c->connectionThread.join();
    if (c->workerThread.joinable()) c->workerThread.join();
    {
        std::lock_guard<std::recursive_mutex> hold(globalLock);
        UnlinkConnection(c);
    }
    if (c->file >= 0) close(c->file);
    ClientTlsFree(c->client);
    if (c->client.socket >= 0) close(c->client.socket);
    if (c->mail.socket >= 0) close(c->mail.socket);
    FreeConnection(c);
}

void idle_check(Connection* c, int32_t now) {
    if (now <= c->lastActivity + idleTimeoutSeconds) return;
    c->lastActivity = now;
    if (c->user) c->user->runtime.busy = 0;
    // Wake the connection's thread; it closes the socket itself.
    if (c->client.socket >= 0) shutdown(c->client.socket, SHUT_RDWR);
    if (c->mail.socket >= 0) shutdown(c->mail.socket, SHUT_RDWR);
    if (c->state != PageState::Closing) c->state = PageState::Done;
}

void MonitorMain() {
    while (serverRunning) {
        int32_t now = static_cast<int32_t>(local_seconds());
        for (Connection* c : snapshot()) {
            idle_check(c, now);
            // The extra exchanges of a merged list have no thread of their
            // own; their stall rule runs here.
            bool extra = c->parent != nullptr;
            if (extra && c->state != PageState::Closing && c->state != PageState::WorkerDone)
                Dispatcher(*c);
            bool threadDone = c->connectionThreadEnded || extra;
            bool workerDone = !c->workerRunning;
            PageState s = c->state;
            if (((s == PageState::Closing || (extra && s == PageState::Done)) && threadDone &&
                 workerDone) ||
                (s == PageState::WorkerDone && workerDone && c->client.socket < 0))
                unlink_and_free(c);
        }
        sleep_ms(10);
    }
}

} // namespace

void StartServer(int sock) {
    {
        std::lock_guard<std::mutex> hold(gPool.m);
        gPool.stopping = false;
    }
    serverRunning = true;
    gListenSocket = sock;
    gMonitor = std::thread(MonitorMain);
    gListener = std::thread(ListenerMain, sock, false);
}

void RestartListener(int sock) {
    int old = gListenSocket.exchange(sock);
    if (old >= 0) {
        shutdown(old, SHUT_RDWR);
        close(old);
    }
    if (gListener.joinable()) gListener.join();
    gListener = std::thread(ListenerMain, sock, false);
}

void StartHttpsListener(int sock, ssl_ctx_st* context) {
    gHttpsContext = context;
    gHttpsSocket = sock;
    gHttpsListener = std::thread(ListenerMain, sock, true);
}

void StopServer() {
    if (!serverRunning.exchange(false)) return;
    for (std::atomic<int>* listening : {&gListenSocket, &gHttpsSocket}) {
        int sock = listening->exchange(-1);
        if (sock >= 0) {
            shutdown(sock, SHUT_RDWR);
            close(sock);
        }
    }
    if (gListener.joinable()) gListener.join();
    if (gHttpsListener.joinable()) gHttpsListener.join();
    if (gMonitor.joinable()) gMonitor.join();
    for (Connection* c : snapshot()) {
        if (c->client.socket >= 0) shutdown(c->client.socket, SHUT_RDWR);
        if (c->mail.socket >= 0) shutdown(c->mail.socket, SHUT_RDWR);
    }
    StopPool();
    for (Connection* c : snapshot())
        if (c->connectionThreadEnded) unlink_and_free(c);
    // The attachments of the users' last pages are not kept across a restart.
    std::lock_guard<std::recursive_mutex> hold(globalLock);
    for (UserRecord* u = data_store().users.head.link; u; u = u->link) delete_user_files(u);
}

int ReceiveStep(Connection& c) {
    // The handshake runs here, in the connection's own thread, so a browser
    // that never finishes it holds nobody else up and meets the same
    // request time-out as one that never finishes its request.
    if (!ClientTlsReady(c.client)) return ClientTlsAcceptStep(c.client) < 0 ? -1 : 0;
    int r = ClientWait(c.client, 1000);
    if (r <= 0) return r;
    // Not c.receiveBuffer: the reader decodes credentials into it while it
    // still walks the received bytes.
    char buf[kLineSize];
    ssize_t n = ClientRecv(c.client, buf, sizeof buf);
    if (n == -2) return 0;
    if (n <= 0) return -1;
    return FeedBytes(c, buf, static_cast<int>(n)) == 1 ? 1 : 0;
}
