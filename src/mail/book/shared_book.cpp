#include "mail/book/address_book.h"

#include "host/global_lock.h"
#include "server/server_paths.h"
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>

namespace {

std::unique_ptr<std::string> gShared;

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
    gShared = std::move(text);
}

const std::string* shared_address_book() {
    return gShared.get();
}
