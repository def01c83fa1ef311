#include "mail/book/address_book.h"
#include "mail/book/book_internal.h"

#include "base/global_lock.h"
#include "base/text/address.h"
#include "store/data_file.h"
#include <mutex>

namespace book {

std::string CopyBook(const Connection& c) {
    std::lock_guard<std::recursive_mutex> hold(globalLock);
    return c.user ? c.user->address_book : std::string();
}

bool StoreBook(Connection& c, const std::string& text) {
    if (!c.user) return false;
    std::lock_guard<std::recursive_mutex> hold(globalLock);
    std::string old = std::move(c.user->address_book);
    c.user->address_book = text;
    if (write_user_slot(data_store(), *c.user) == 1) return true;
    c.user->address_book = std::move(old);
    return false;
}

} // namespace book

bool AddressInBook(const Connection& c, const char* entry) {
    char address[kFieldSize];
    ExtractAddress(address, entry);
    std::lock_guard<std::recursive_mutex> hold(globalLock);
    if (!c.user || c.user->address_book.empty()) return true;
    return c.user->address_book.find(address) == std::string::npos;
}
