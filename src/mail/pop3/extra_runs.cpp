#include "mail/pop3/extra_runs.h"
#include "mail/pop3/pop3_state.h"
#include "page/connection.h"
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace {

struct ExtraRun {
    uint64_t id;
    const Connection* parent;
    int set;
    bool running;
};
std::mutex gExtraMutex;
std::condition_variable gExtraEnded;
std::vector<ExtraRun> gExtras;
uint64_t gNextExtraId = 1;

} // namespace

uint64_t extra_run_begin(const Connection* parent, int set) {
    std::lock_guard<std::mutex> hold(gExtraMutex);
    const uint64_t id = gNextExtraId++;
    gExtras.push_back({id, parent, set, true});
    return id;
}

void extra_run_end(uint64_t id) {
    {
        std::lock_guard<std::mutex> hold(gExtraMutex);
        for (ExtraRun& r : gExtras)
            if (r.id == id) r.running = false;
    }
    gExtraEnded.notify_all();
}

void extra_run_wait(const Connection* parent, int set, int ms) {
    auto ended = [&] {
        for (const ExtraRun& r : gExtras)
            if (r.parent == parent && r.set == set) return !r.running;
        return true;
    };
    std::unique_lock<std::mutex> hold(gExtraMutex);
    // Ended already, yet the page did not go on: its outcome is not in the
    // status yet, and nothing will announce it, so this is a short look.
    if (ended()) ms = std::min(ms, 10);
    gExtraEnded.wait_for(hold, std::chrono::milliseconds(ms));
}

void extra_runs_forget(const Connection* parent) {
    std::lock_guard<std::mutex> hold(gExtraMutex);
    std::erase_if(gExtras, [&](const ExtraRun& r) { return r.parent == parent; });
}

bool pop3_extra_finished(Connection& c, int set) {
    if (!c.user || c.user->runtime.pop3Status[set] == kPop3None) return false;
    std::lock_guard<std::mutex> hold(gExtraMutex);
    for (const ExtraRun& r : gExtras)
        if (r.parent == &c && r.set == set && r.running) return false;
    std::erase_if(gExtras, [&](const ExtraRun& r) { return r.parent == &c && r.set == set; });
    return true;
}
