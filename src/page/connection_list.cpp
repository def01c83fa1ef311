#include "page/connection_list.h"
#include "base/connection_count.h"
#include "base/global_lock.h"
#include <mutex>

Connection*& first_connection() {
    static Connection* first = nullptr;
    return first;
}

void AppendConnection(Connection* c) {
    std::lock_guard<std::recursive_mutex> hold(globalLock);
    c->next = nullptr;
    Connection** p = &first_connection();
    while (*p) p = &(*p)->next;
    *p = c;
    connection_count()++;
}

bool InConnectionList(const Connection* c) {
    std::lock_guard<std::recursive_mutex> hold(globalLock);
    for (Connection* p = first_connection(); p; p = p->next)
        if (p == c) return true;
    return false;
}

void UnlinkConnection(Connection* c) {
    Connection** p = &first_connection();
    while (*p && *p != c) p = &(*p)->next;
    if (*p) *p = c->next;
    connection_count()--;
}
