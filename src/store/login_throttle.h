// Slows down password guessing without letting one person lock out others:
// a user name is counted per client address (five failures in a row free),
// and an address across all names (twenty free, so that an office behind
// one NAT survives its typing, but not a guesser trying many names). Past
// the free failures each attempt of that key has to wait a growing time
// (2, 4, 8 ... seconds, at most five minutes) before a password is even
// compared. A success clears the count of its name at its address.
#pragma once
#include <chrono>
#include <cstddef>
#include <mutex>
#include <string>
#include <sys/socket.h>
#include <unordered_map>

class LoginThrottle {
public:
    using Clock = std::chrono::steady_clock;

    // Whole seconds (rounded up) until user may try again from address; 0 now.
    int waitLeft(const std::string& user, const std::string& address, Clock::time_point now);
    bool allowed(const std::string& user, const std::string& address, Clock::time_point now) {
        return waitLeft(user, address, now) == 0;
    }
    void failed(const std::string& user, const std::string& address, Clock::time_point now);
    void succeeded(const std::string& user, const std::string& address);
    // Forgets every count (a fresh gateway).
    void clear();
    // Seconds a key must wait after this many failures in a row, the first
    // free of them free.
    static int waitSeconds(int failures, int free = kFreePairFailures);
    static constexpr int kFreePairFailures = 5;
    static constexpr int kFreeAddressFailures = 20;

private:
    struct Entry {
        int failures = 0;
        Clock::time_point until{};
        Clock::time_point last{};
    };
    void count(const std::string& key, int free, Clock::time_point now);
    Clock::duration waiting(const std::string& key, Clock::time_point now) const;
    void prune(Clock::time_point now);

    std::mutex mutex_;
    std::unordered_map<std::string, Entry> entries_;
};

// The gateway's one throttle, for form logins, browser authentication and
// the old-password check of the settings page.
LoginThrottle& login_throttle();
// The client address as the throttle's key.
std::string ThrottleAddress(const sockaddr_storage& client);
