#include "mail/book/address_book.h"

#include "base/global_lock.h"
#include "base/server_paths.h"
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <vector>

namespace {

std::unique_ptr<std::string> gShared;
// Books replaced while the gateway runs: pages read the current one without
// the lock, so an old one must outlive any page that may still hold it. They
// change rarely; keeping them costs little.
std::vector<std::unique_ptr<std::string>> gRetired;

} // namespace

void LoadSharedBook() {
    std::unique_ptr<std::string> text;
    std::ifstream in(server_paths().user + "/common.adb", std::ios::binary);
    if (in) {
        std::ostringstream all;
        all << in.rdbuf();
        text = std::make_unique<std::string>(all.str());
    }
    std::lock_guard<std::recursive_mutex> hold(globalLock);
    if (gShared) gRetired.push_back(std::move(gShared));
    gShared = std::move(text);
}

const std::string* shared_address_book() {
    return gShared.get();
}
