#include "base/pooled_thread.h"
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <pthread.h>
#include <system_error>
#include <utility>

struct PoolJob {
    std::function<void()> run;
    PooledThread* owner;

    void finish() { owner->state_.store(PooledThread::kReturned, std::memory_order_release); }
};

namespace {

// A kept thread that had no job for this long ends: a burst of users leaves
// no crowd of idle threads behind.
constexpr auto kIdleLife = std::chrono::seconds(30);

struct Pool {
    std::mutex m;
    std::condition_variable work;
    // A job's end, told under m. The pool's own, never the owner's: the
    // owner may be freed the moment join() has seen the end.
    std::condition_variable done;
    std::deque<PoolJob> queue;
    int idle = 0;
};

// Never destroyed: kept threads may still wait on it while the process ends.
Pool& pool() {
    static Pool& p = *new Pool;
    return p;
}

void* KeptThreadMain(void*) {
    Pool& p = pool();
    std::unique_lock<std::mutex> lock(p.m);
    for (;;) {
        p.idle++;
        const bool woke = p.work.wait_for(lock, kIdleLife, [&] { return !p.queue.empty(); });
        p.idle--;
        if (!woke) break;
        PoolJob job = std::move(p.queue.front());
        p.queue.pop_front();
        lock.unlock();
        job.run();
        job.run = nullptr; // what the job holds goes before its owner is told
        lock.lock();
        job.finish(); // the last touch of the owner
        p.done.notify_all();
    }
    return nullptr;
}

} // namespace

void PooledThread::start(std::function<void()> job) {
    Pool& p = pool();
    std::lock_guard<std::mutex> hold(p.m);
    if (p.idle <= static_cast<int>(p.queue.size())) {
        pthread_attr_t attr;
        pthread_attr_init(&attr);
        pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
        pthread_t id;
        const int r = pthread_create(&id, &attr, KeptThreadMain, nullptr);
        pthread_attr_destroy(&attr);
        if (r != 0) throw std::system_error(r, std::generic_category(), "pthread_create");
    }
    state_.store(kRunning, std::memory_order_release);
    p.queue.push_back(PoolJob{std::move(job), this});
    p.work.notify_one();
}

void PooledThread::join() {
    // The job has normally returned long before, and the pool's own last step
    // follows within microseconds; yielding for it instead of sleeping cost
    // the mail server a core's share when twenty pages ended at once.
    Pool& p = pool();
    std::unique_lock<std::mutex> lock(p.m);
    p.done.wait(lock, [&] { return state_.load(std::memory_order_acquire) != kRunning; });
    state_.store(kIdle, std::memory_order_release);
}
