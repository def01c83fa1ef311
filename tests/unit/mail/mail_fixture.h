// A connection of user taro (English pages) whose mail socket is one end of
// a socket pair; the test plays the server on the other end.
#pragma once
#include "base/date/time_zone.h"
#include "mail/net/mail_link.h"
#include "server/route/page_fixture.h"
#include <fcntl.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

class MailTest : public PageTest {
protected:
    void SetUp() override {
        PageTest::SetUp();
        taro = LoggedIn("taro");
        Fresh();
    }
    void TearDown() override {
        Close();
        set_time_zone_bias_for_test(0); // the list and view tests date in Tokyo time
        PageTest::TearDown();
    }
    void Close() {
        if (c && c->file >= 0) close(c->file);
        if (c && c->mail.socket >= 0) close(c->mail.socket);
        if (peer >= 0) close(peer);
        peer = -1;
        c.reset();
    }
    // A new request of taro's with its own connection; the page so far is
    // dropped.
    void Fresh() {
        Close();
        out.clear();
        c = Of(taro);
        int ends[2];
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, ends), 0);
        fcntl(ends[1], F_SETFL, O_NONBLOCK);
        c->mail.socket = ends[0];
        peer = ends[1];
        c->settingsIndex = 0;
    }
    // What the client has sent since the last call.
    std::string Sent() {
        std::string all;
        char buf[8192];
        for (ssize_t n; (n = read(peer, buf, sizeof buf)) > 0;)
            all.append(buf, static_cast<size_t>(n));
        return all;
    }

    ConnectionPtr c;
    int peer = -1;
};
