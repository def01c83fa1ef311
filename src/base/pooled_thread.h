// A thread of work that runs on a kept thread instead of a new one.
#pragma once
#include <atomic>
#include <functional>

// Used like std::thread for a worker that runs once per request: starting a
// thread, its stack and its exit cost more than a short POP3 exchange on a
// busy machine, so the pool keeps threads that have finished a job waiting
// for the next one for a while.
class PooledThread {
public:
    PooledThread() = default;
    PooledThread(const PooledThread&) = delete;
    PooledThread& operator=(const PooledThread&) = delete;
    ~PooledThread() {
        if (joinable()) join();
    }

    // Hands job to an idle kept thread, or to a new one when none is idle.
    // Throws std::system_error, as std::thread does, when no thread can be
    // had. The object must not be started again before join().
    void start(std::function<void()> job);
    // True from start() until join().
    bool joinable() const { return state_.load(std::memory_order_acquire) != kIdle; }
    // Waits until the job has returned; after that the pool no longer
    // touches this object, so its owner may be freed.
    void join();

private:
    friend struct PoolJob;
    static constexpr int kIdle = 0, kRunning = 1, kReturned = 2;
    std::atomic<int> state_{kIdle};
};
