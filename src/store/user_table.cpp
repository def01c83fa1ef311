#include "store/user_table.h"
#include "store/login_sessions.h"
#include <cstring>

UserRecord* find_user(const UserTable& t, const char* id) {
    for (UserRecord* r = t.head.link; r; r = r->link)
        if (strcmp(r->set[0].id, id) == 0) return r;
    return nullptr;
}

int count_users(const UserTable& t) {
    int n = 0;
    for (UserRecord* r = t.head.link; r; r = r->link) n++;
    return n;
}

void append_user(UserTable& t, UserRecord* r) {
    UserRecord* p = const_cast<UserRecord*>(&t.head);
    while (p->link) p = p->link;
    r->link = nullptr;
    p->link = r;
}

void renumber_users(UserTable& t) {
    int k = 0;
    for (UserRecord* r = t.head.link; r; r = r->link) r->position = k++;
}

int remove_user(UserTable& t, const char* id, bool (*busy)(const UserRecord*)) {
    for (UserRecord* p = &t.head; p->link; p = p->link) {
        UserRecord* r = p->link;
        if (strcmp(r->set[0].id, id) != 0) continue;
        if (busy && busy(r)) return 0;
        p->link = r->link;
        // A user made again under the name must not find the old logins.
        session_close_user(id);
        delete r;
        return 1;
    }
    return 0;
}

void clear_users(UserTable& t) {
    UserRecord* r = t.head.link;
    while (r) {
        UserRecord* next = r->link;
        delete r;
        r = next;
    }
    t.head.link = nullptr;
}

std::vector<UserRecord*> user_order(const UserTable& t) {
    std::vector<UserRecord*> order;
    for (UserRecord* r = t.head.link; r; r = r->link) order.push_back(r);
    return order;
}

void relink_users(UserTable& t, const std::vector<UserRecord*>& order) {
    UserRecord* p = &t.head;
    for (UserRecord* r : order) {
        p->link = r;
        p = r;
    }
    p->link = nullptr;
    renumber_users(t);
}

UserRecord* unlink_user(UserTable& t, const char* id) {
    for (UserRecord* p = &t.head; p->link; p = p->link) {
        UserRecord* r = p->link;
        if (strcmp(r->set[0].id, id) != 0) continue;
        p->link = r->link;
        r->link = nullptr;
        return r;
    }
    return nullptr;
}
