// Slows down password guessing: after five failures in a row for one user
// name or one client address, each further attempt from it has to wait a
// growing time (2, 4, 8 ... seconds, at most five minutes) before a password
// is even compared. A success clears both counts.
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

    // True when neither key is inside its waiting time.
    bool allowed(const std::string& user, const std::string& address, Clock::time_point now);
    void failed(const std::string& user, const std::string& address, Clock::time_point now);
    void succeeded(const std::string& user, const std::string& address);
    // Forgets every count (a fresh gateway).
    void clear();
    // Seconds a key must wait after this many failures in a row.
    static int waitSeconds(int failures);

private:
    struct Entry {
        int failures = 0;
        Clock::time_point until{};
        Clock::time_point last{};
    };
    void count(const std::string& key, Clock::time_point now);
    bool waiting(const std::string& key, Clock::time_point now) const;
    void prune(Clock::time_point now);

    std::mutex mutex_;
    std::unordered_map<std::string, Entry> entries_;
};

// The gateway's one throttle, for form logins, browser authentication and
// the old-password check of the settings page.
LoginThrottle& login_throttle();
// The client address as the throttle's key.
std::string ThrottleAddress(const sockaddr_storage& client);
