// A POP3 exchange of taro's, the test playing the server.
#pragma once
#include "mail/mail_fixture.h"
#include "mail/pop3/pop3_client.h"
#include <poll.h>

class Pop3Test : public MailTest {
protected:
    // A new connection, and taro's first set as the fixture made it.
    void Fresh() {
        MailTest::Fresh();
        snprintf(taro->set[0].id, sizeof taro->set[0].id, "taro");
        snprintf(taro->set[0].password, sizeof taro->set[0].password, "pw");
    }
    // The server sends bytes; the client takes everything there is. Returns
    // the last result of pop3_poll.
    int Reply(const std::string& bytes) {
        EXPECT_EQ(send(peer, bytes.data(), bytes.size(), 0), static_cast<ssize_t>(bytes.size()));
        int r = 0;
        pollfd p{c->mailSocket, POLLIN, 0};
        while (r == 0 && poll(&p, 1, 0) > 0) r = pop3_poll(*c);
        return r;
    }
    void Start(PageState state, uint16_t step) {
        c->state = state;
        c->workerResult = step;
    }
};
