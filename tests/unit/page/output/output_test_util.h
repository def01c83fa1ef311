// The page fixture with one connection whose answers land in out; and a
// socket pair that reports how the bytes were cut into sends.
#pragma once
#include "server/route/page_fixture.h"

#include <sys/socket.h>
#include <unistd.h>

#include <thread>
#include <vector>

class OutputTest : public PageTest {
protected:
    void SetUp() override {
        PageTest::SetUp();
        c = Capture(0);
    }

    ConnectionPtr c;
};

// Every send on the connection arrives as one record, so the reader sees the
// size of each send.
class SendRecorder {
public:
    explicit SendRecorder(Connection& c) : c_(c) {
        int ends[2];
        EXPECT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET, 0, ends), 0);
        c_.client.socket = ends[0];
        reader_ = ends[1];
        thread_ = std::thread([this] {
            std::vector<char> buffer(65536);
            for (;;) {
                ssize_t n = recv(reader_, buffer.data(), buffer.size(), 0);
                if (n <= 0) return;
                sizes.push_back(static_cast<size_t>(n));
                bytes.append(buffer.data(), static_cast<size_t>(n));
            }
        });
    }
    // Ends the recording; sizes and bytes are complete afterwards.
    void Finish() {
        if (c_.client.socket < 0) return;
        shutdown(c_.client.socket, SHUT_WR);
        thread_.join();
        close(c_.client.socket);
        close(reader_);
        c_.client.socket = -1;
    }
    ~SendRecorder() { Finish(); }

    std::vector<size_t> sizes;
    std::string bytes;

private:
    Connection& c_;
    int reader_ = -1;
    std::thread thread_;
};
