#include "store/login_throttle.h"

#include <arpa/inet.h>
#include <netinet/in.h>

namespace {

constexpr int kLongestWaitSeconds = 300;
// A key quiet for this long is forgotten; the table is also kept from
// growing without bound when addresses keep changing.
constexpr auto kForgetAfter = std::chrono::hours(1);
constexpr size_t kMaxEntries = 16384;

std::string pair_key(const std::string& user, const std::string& address) {
    return "p:" + user + '\x01' + address;
}

} // namespace

int LoginThrottle::waitSeconds(int failures, int free) {
    if (failures < free) return 0;
    const int step = failures - free + 1;
    return step >= 9 ? kLongestWaitSeconds : std::min(kLongestWaitSeconds, 1 << step);
}

LoginThrottle::Clock::duration LoginThrottle::waiting(const std::string& key,
                                                      Clock::time_point now) const {
    const auto it = entries_.find(key);
    if (it == entries_.end() || now >= it->second.until) return Clock::duration::zero();
    return it->second.until - now;
}

int LoginThrottle::waitLeft(const std::string& user, const std::string& address,
                            Clock::time_point now) {
    std::lock_guard<std::mutex> hold(mutex_);
    const Clock::duration left =
        std::max(waiting(pair_key(user, address), now), waiting("a:" + address, now));
    if (left <= Clock::duration::zero()) return 0;
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(left).count();
    return static_cast<int>((ms + 999) / 1000);
}

void LoginThrottle::count(const std::string& key, int free, Clock::time_point now) {
    Entry& e = entries_[key];
    if (e.failures > 0 && now - e.last > kForgetAfter) e.failures = 0;
    e.failures++;
    e.last = now;
    e.until = now + std::chrono::seconds(waitSeconds(e.failures, free));
}

void LoginThrottle::prune(Clock::time_point now) {
    if (entries_.size() < kMaxEntries) return;
    std::erase_if(entries_, [&](const auto& kv) { return now - kv.second.last > kForgetAfter; });
    // Still full: the oldest half goes, waiting or not.
    if (entries_.size() >= kMaxEntries) {
        auto cut = now - kForgetAfter / 2;
        std::erase_if(entries_, [&](const auto& kv) { return kv.second.last < cut; });
    }
    if (entries_.size() >= kMaxEntries) entries_.clear();
}

void LoginThrottle::failed(const std::string& user, const std::string& address,
                           Clock::time_point now) {
    std::lock_guard<std::mutex> hold(mutex_);
    prune(now);
    if (!user.empty()) count(pair_key(user, address), kFreePairFailures, now);
    count("a:" + address, kFreeAddressFailures, now);
}

// The address count stays: a guesser with an account of its own must not
// be able to wipe it with a login between guesses. It is forgotten after a
// quiet hour.
void LoginThrottle::succeeded(const std::string& user, const std::string& address) {
    std::lock_guard<std::mutex> hold(mutex_);
    entries_.erase(pair_key(user, address));
}

void LoginThrottle::clear() {
    std::lock_guard<std::mutex> hold(mutex_);
    entries_.clear();
}

LoginThrottle& login_throttle() {
    static LoginThrottle throttle;
    return throttle;
}

std::string ThrottleAddress(const sockaddr_storage& client) {
    char text[INET6_ADDRSTRLEN] = "";
    if (client.ss_family == AF_INET) {
        const auto* a = reinterpret_cast<const sockaddr_in*>(&client);
        inet_ntop(AF_INET, &a->sin_addr, text, sizeof text);
    } else if (client.ss_family == AF_INET6) {
        const auto* a = reinterpret_cast<const sockaddr_in6*>(&client);
        inet_ntop(AF_INET6, &a->sin6_addr, text, sizeof text);
    }
    return text;
}
