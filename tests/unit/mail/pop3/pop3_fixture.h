// A connection of user taro (English pages) whose POP3 socket is one end of a
// socket pair; the test plays the server on the other end.
#pragma once
#include "mail/pop3/pop3_client.h"
#include "server/route/page_fixture.h"
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

inline const std::string kQ = "?user=taro?check=5?lang=eng";

class Pop3Test : public PageTest {
protected:
    void SetUp() override {
        PageTest::SetUp();
        taro = LoggedIn("taro");
        Fresh();
    }
    void TearDown() override {
        Close();
        PageTest::TearDown();
    }
    void Close() {
        if (peer >= 0) close(peer);
        if (c && c->mailSocket >= 0) close(c->mailSocket);
        peer = -1;
        c.reset();
    }
    // A new connection, and taro's first set as the fixture made it.
    void Fresh() {
        Close();
        out.clear();
        snprintf(taro->set[0].id, sizeof taro->set[0].id, "taro");
        snprintf(taro->set[0].password, sizeof taro->set[0].password, "pw");
        c = Capture();
        int ends[2];
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, ends), 0);
        c->mailSocket = ends[0];
        peer = ends[1];
        c->user = taro;
        c->route = Route::Mail;
        c->settingsIndex = 0;
        snprintf(c->userName, sizeof c->userName, "taro");
        snprintf(c->loginQuery, sizeof c->loginQuery, "%s", kQ.c_str());
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
    // Everything the client has sent and not yet been read.
    std::string Sent() {
        std::string got;
        char buffer[8192];
        pollfd p{peer, POLLIN, 0};
        for (ssize_t n;
             poll(&p, 1, 0) > 0 && (n = recv(peer, buffer, sizeof buffer, MSG_DONTWAIT)) > 0;)
            got.append(buffer, static_cast<size_t>(n));
        return got;
    }
    void Start(PageState state, uint16_t step) {
        c->state = state;
        c->workerResult = step;
    }

    UserRecord* taro = nullptr;
    ConnectionPtr c;
    int peer = -1;
};
