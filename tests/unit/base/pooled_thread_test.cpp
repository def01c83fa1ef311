#include "base/pooled_thread.h"
#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <memory>
#include <set>
#include <thread>
#include <vector>

// join() is what lets a connection's record be freed: it must not return
// while the job still runs, and a job started after it must run again.
TEST(PooledThread, JoinWaitsForTheJobAndKeepsTheThread) {
    PooledThread t;
    EXPECT_FALSE(t.joinable());
    std::set<std::thread::id> ran;
    for (int round = 0; round < 3; round++) {
        std::atomic<bool> done{false};
        std::thread::id id;
        t.start([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            id = std::this_thread::get_id();
            done = true;
        });
        EXPECT_TRUE(t.joinable());
        t.join();
        EXPECT_TRUE(done);
        EXPECT_FALSE(t.joinable());
        ran.insert(id);
    }
    // One after another, the kept thread takes each job.
    EXPECT_EQ(ran.size(), 1u);
}

// Jobs that overlap each get a thread of their own; none waits for another.
TEST(PooledThread, OverlappingJobsRunAtOnce) {
    constexpr int kJobs = 8;
    std::vector<std::unique_ptr<PooledThread>> threads;
    std::atomic<int> inside{0}, most{0};
    std::atomic<bool> release{false};
    for (int k = 0; k < kJobs; k++) {
        threads.push_back(std::make_unique<PooledThread>());
        threads.back()->start([&] {
            int now = ++inside;
            for (int seen = most; now > seen && !most.compare_exchange_weak(seen, now);) {
            }
            while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
            --inside;
        });
    }
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (most < kJobs && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(most, kJobs);
    release = true;
    for (auto& t : threads) t->join();
    EXPECT_EQ(inside, 0);
}
