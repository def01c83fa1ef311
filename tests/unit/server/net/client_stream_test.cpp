// A client that stops reading cannot hold a page's send for ever; one that
// reads slowly still gets all of it.
#include "server/net/client_stream.h"
#include <chrono>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

// A connected loopback TCP pair with small buffers on both sides, so that a
// page of some tens of kilobytes waits on the reader.
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
        setsockopt(writer, SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
        close(listener);
    }
    ~TcpPair() {
        close(writer);
        close(reader);
    }
};

bool send_page(int fd, const std::string& page) {
    ClientStream s{fd, nullptr, {}, false};
    return ClientSend(s, page.data(), page.size());
}

TEST(ClientStream, ASendTheClientTakesNothingOfFails) {
    TcpPair p;
    ASSERT_GE(p.writer, 0);
    BoundSendStall(p.writer, 1);
    EXPECT_FALSE(send_page(p.writer, std::string(16 << 20, 'x')));
}

TEST(ClientStream, AClientThatReadsSlowlyGetsThePageWhole) {
    TcpPair p;
    ASSERT_GE(p.writer, 0);
    BoundSendStall(p.writer, 1);
    // Reads that come well within the bound but add up to far more than it:
    // the bound is on a stall, not on the whole page.
    const size_t size = 24 * 1024;
    size_t got = 0;
    std::thread reader([&] {
        char buf[4096];
        for (;;) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            ssize_t n = recv(p.reader, buf, sizeof buf, 0);
            if (n <= 0) break;
            got += static_cast<size_t>(n);
            if (got >= size) break;
        }
    });
    std::string page(size, 'y');
    EXPECT_TRUE(send_page(p.writer, page));
    reader.join();
    EXPECT_EQ(got, size);
}

} // namespace
