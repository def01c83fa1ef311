// A client that stops reading cannot hold a page's send for ever.
#include "server/net/client_stream.h"
#include <chrono>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A connected loopback TCP pair whose reading side has a tiny window.
struct TcpPair {
    int writer = -1, reader = -1;
    TcpPair() {
        int listener = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a);
        listen(listener, 1);
        getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);
        reader = socket(AF_INET, SOCK_STREAM, 0);
        int small = 1024;
        setsockopt(reader, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        connect(reader, reinterpret_cast<sockaddr*>(&a), sizeof a);
        writer = accept(listener, nullptr, nullptr);
        close(listener);
    }
    ~TcpPair() {
        close(writer);
        close(reader);
    }
};

double seconds_to_send(TcpPair& p, size_t n, bool& sent) {
    Connection* c = NewConnection(p.writer);
    std::string page(n, 'x');
    auto t0 = std::chrono::steady_clock::now();
    sent = ClientSend(*c, page.data(), page.size());
    std::chrono::duration<double> took = std::chrono::steady_clock::now() - t0;
    c->clientSocket = -1;
    FreeConnection(c);
    return took.count();
}

TEST(ClientStream, ASendTheClientTakesNothingOfFailsAfterTheBound) {
    TcpPair p;
    ASSERT_GE(p.writer, 0);
    BoundSendStall(p.writer, 1);
    bool sent = true;
    double took = seconds_to_send(p, 16 << 20, sent);
    EXPECT_FALSE(sent);
    EXPECT_LT(took, 10.0);
}

TEST(ClientStream, APageThatFitsIsSentWholeUnderTheBound) {
    TcpPair p;
    ASSERT_GE(p.writer, 0);
    BoundSendStall(p.writer, 1);
    bool sent = false;
    seconds_to_send(p, 2000, sent);
    EXPECT_TRUE(sent);
    char buf[4096];
    size_t got = 0;
    while (got < 2000) {
        ssize_t n = recv(p.reader, buf, sizeof buf, 0);
        ASSERT_GT(n, 0);
        got += static_cast<size_t>(n);
    }
    EXPECT_EQ(got, 2000u);
}

} // namespace
