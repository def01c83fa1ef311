#include "server/listener/crowding.h"
#include <sys/socket.h>

Connection* OldestUnfinishedRequest(Connection* first, int64_t startedBy) {
    Connection* oldest = nullptr;
    for (Connection* c = first; c; c = c->next) {
        if (c->state != PageState::Receiving || c->gaveWay || c->parent) continue;
        if (c->receiveStarted > startedBy) continue;
        if (!oldest || c->receiveStarted < oldest->receiveStarted) oldest = c;
    }
    return oldest;
}

void GiveWay(Connection& c) {
    c.gaveWay = true;
    if (c.client.socket >= 0) shutdown(c.client.socket, SHUT_RDWR);
}
