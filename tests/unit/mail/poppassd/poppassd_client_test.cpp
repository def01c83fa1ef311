// The socket side of the poppassd client against scripted peers: failures a
// real server does not produce on demand (silence, a close in the middle),
// and the choice and resolution of the server name.
#include "mail/poppassd/poppassd_client.h"
#include "mail/poppassd/poppassd_io.h"
#include "server/route/page_fixture.h"
#include <chrono>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

class PoppassdSocketTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair_), 0);
        x.user = "taro";
        x.oldPassword = "old";
        x.newPassword = "new";
    }
    void TearDown() override {
        if (pair_[0] >= 0) close(pair_[0]);
        if (pair_[1] >= 0) close(pair_[1]);
    }
    void Say(const std::string& s) {
        ASSERT_EQ(write(pair_[1], s.data(), s.size()), ssize_t(s.size()));
    }
    int pair_[2] = {-1, -1};
    PoppassdExchange x;
};

TEST_F(PoppassdSocketTest, SilenceOrCloseEndsWithTheStepReached) {
    // Bytes without a line end do not count as an answer.
    Say("200 hi\r\n200 your pass");
    auto start = std::chrono::steady_clock::now();
    poppassd_converse(pair_[0], x, 1, nullptr, nullptr);
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(x.step, kPoppassdUserSent);
    EXPECT_GE(took, 900ms);
    EXPECT_LT(took, 3s);

    // A close after whole lines ends at once, long before the stall.
    PoppassdExchange y;
    Say("200 hi\r\n");
    close(pair_[1]);
    pair_[1] = -1;
    start = std::chrono::steady_clock::now();
    poppassd_converse(pair_[0], y, 30, nullptr, nullptr);
    EXPECT_EQ(y.step, kPoppassdUserSent);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
}

class PoppassdStartTest : public PageTest {};

TEST_F(PoppassdStartTest, NamesThatCannotResolveStartNoWorker) {
    ConnectionPtr c = Capture();
    c->user = LoggedIn("taro");
    strcpy(data_store().settings.pop3_server, "nosuch..invalid");
    StartPoppassd(*c, 0);
    EXPECT_EQ(c->workerResult, kPoppassdHostNotFound);
    EXPECT_FALSE(c->workerThread.joinable());
    EXPECT_EQ(c->mail.socket, -1);

    // With per-user servers the set's own name counts, filled from the basic
    // setting while it is empty.
    data_store().settings.per_user_servers = 1;
    strcpy(data_store().settings.pop3_server, "127.0.0.1");
    strcpy(c->user->set[1].pop3_name, "mail.invalid");
    StartPoppassd(*c, 1);
    EXPECT_EQ(c->workerResult, kPoppassdHostNotFound);
    strcpy(data_store().settings.pop3_server, "x..invalid");
    StartPoppassd(*c, 2);
    EXPECT_EQ(c->workerResult, kPoppassdHostNotFound);
    EXPECT_STREQ(c->user->set[2].pop3_name, "x..invalid");
    StartPoppassd(*c, 3);
    EXPECT_EQ(c->workerResult, kPoppassdHostNotFound);

    char refusal[kPoppassdRefusalSize] = "stale";
    EXPECT_EQ(RunPoppassd("nosuch..invalid", "u", "o", "n", refusal), kPoppassdHostNotFound);
    EXPECT_STREQ(refusal, "");
}

} // namespace
