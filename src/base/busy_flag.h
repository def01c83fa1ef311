// A flag that one holder has at a time: a user's mail exchange (the kept list
// and the temporary files are its), or the writer of an attachment file.
// Whoever waits for it sleeps until it is freed: a browser asking for the
// next page or the file the moment the last page ended found it still held
// and lost a whole polling step.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

class BusyFlag {
public:
    bool TryTake() {
        int expected = 0;
        return value_.compare_exchange_strong(expected, 1);
    }

    // Setting 0 frees the flag and wakes every waiter.
    BusyFlag& operator=(int v) {
        {
            std::lock_guard<std::mutex> hold(mutex_);
            value_ = v;
        }
        if (v == 0) freed_.notify_all();
        return *this;
    }

    operator int() const { return value_.load(); }

    // Sleeps until the flag is free or ms have passed; true when it is free.
    bool WaitFree(int ms) {
        std::unique_lock<std::mutex> hold(mutex_);
        return freed_.wait_for(hold, std::chrono::milliseconds(ms),
                               [&] { return value_.load() == 0; });
    }

private:
    std::atomic<int> value_{0};
    std::mutex mutex_;
    std::condition_variable freed_;
};
