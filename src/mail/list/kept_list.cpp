#include "base/global_lock.h"
#include "mail/list/list_state.h"
#include "mail/list/received_list.h"
#include <cstring>
#include <mutex>
#include <new>

static bool valid_set(int set) {
    return set >= 0 && set < kSettingsSets;
}

int count_kept(const UserRecord* user, int set) {
    if (!user || !valid_set(set)) return 0;
    std::lock_guard<std::recursive_mutex> hold(globalLock);
    return user->runtime.keptCount[set];
}

KeptEntry* append_kept(UserRecord* user, int set, KeptEntry*& tail, int number, int size) {
    if (!user || !valid_set(set)) return nullptr;
    std::lock_guard<std::recursive_mutex> hold(globalLock);
    KeptEntry* e = new (std::nothrow) KeptEntry{};
    if (!e) return nullptr;
    e->number = number;
    e->size = size;
    KeptEntry*& head = user->runtime.keptList[set];
    if (!tail) {
        for (tail = head; tail && tail->next;) tail = tail->next;
    }
    if (tail) {
        tail->next = e;
    } else {
        head = e;
    }
    tail = e;
    user->runtime.keptCount[set]++;
    return e;
}

void free_kept_list(UserRecord* user, int set) {
    if (!user || !valid_set(set)) return;
    std::lock_guard<std::recursive_mutex> hold(globalLock);
    KeptEntry* e = user->runtime.keptList[set];
    user->runtime.keptList[set] = nullptr;
    user->runtime.keptCount[set] = 0;
    while (e) {
        KeptEntry* next = e->next;
        delete e;
        e = next;
    }
}

void remove_kept(UserRecord* user, int set, int number) {
    if (!user || !valid_set(set)) return;
    std::lock_guard<std::recursive_mutex> hold(globalLock);
    for (KeptEntry** link = &user->runtime.keptList[set]; *link; link = &(*link)->next) {
        if ((*link)->number != number) continue;
        KeptEntry* gone = *link;
        *link = gone->next;
        delete gone;
        user->runtime.keptCount[set]--;
        return;
    }
}

void mark_read(KeptEntry* list, int number, int mark) {
    if (mark != 1) return;
    for (; list; list = list->next) {
        if (list->number == number) {
            list->read = 1;
            return;
        }
    }
}

void clear_read_marks(UserRecord* user) {
    if (!user) return;
    std::lock_guard<std::recursive_mutex> hold(globalLock);
    for (KeptEntry* list : user->runtime.keptList)
        for (; list; list = list->next) list->read = 0;
}

// Runs on the request's thread while a worker may be changing the list; the
// lock keeps entries from being freed under the walk.
bool find_kept(Connection& c, const char* messageId) {
    if (!c.user || !valid_set(c.settingsIndex)) return false;
    if (!messageId) messageId = "";
    std::lock_guard<std::recursive_mutex> hold(globalLock);
    for (const KeptEntry* e = c.user->runtime.keptList[c.settingsIndex]; e; e = e->next) {
        if (e->number != c.itemNumber) continue;
        size_t n = strnlen(e->messageId, sizeof e->messageId);
        if (strncmp(messageId, e->messageId, n) == 0) return true;
    }
    return false;
}
