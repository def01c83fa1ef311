#include "server/login/login_throttle.h"

#include <arpa/inet.h>
#include <netinet/in.h>

namespace {

constexpr int kFreeFailures = 5;
constexpr int kLongestWaitSeconds = 300;
// A key quiet for this long is forgotten; the table is also kept from
// growing without bound when addresses keep changing.
constexpr auto kForgetAfter = std::chrono::hours(1);
constexpr size_t kMaxEntries = 16384;

} // namespace

int LoginThrottle::waitSeconds(int failures) {
    if (failures < kFreeFailures) return 0;
    const int step = failures - kFreeFailures + 1;
    return step >= 9 ? kLongestWaitSeconds : std::min(kLongestWaitSeconds, 1 << step);
}

bool LoginThrottle::waiting(const std::string& key, Clock::time_point now) const {
    const auto it = entries_.find(key);
    return it != entries_.end() && now < it->second.until;
}

bool LoginThrottle::allowed(const std::string& user, const std::string& address,
                            Clock::time_point now) {
    std::lock_guard<std::mutex> hold(mutex_);
    return !waiting("u:" + user, now) && !waiting("a:" + address, now);
}

void LoginThrottle::count(const std::string& key, Clock::time_point now) {
    Entry& e = entries_[key];
    e.failures++;
    e.last = now;
    e.until = now + std::chrono::seconds(waitSeconds(e.failures));
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
    if (!user.empty()) count("u:" + user, now);
    count("a:" + address, now);
}

void LoginThrottle::succeeded(const std::string& user, const std::string& address) {
    std::lock_guard<std::mutex> hold(mutex_);
    entries_.erase("u:" + user);
    entries_.erase("a:" + address);
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
