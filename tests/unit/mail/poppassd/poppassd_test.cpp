// The poppassd reply reader and step machine, fed the server's side whole and
// in pieces of every small size; the commands it would send are collected in
// a string. Then the socket side against scripted peers, and against a real
// poppassd.
#include "mail/compose/outgoing.h"
#include "mail/mail_golden.h"
#include "mail/net/mail_link.h"
#include "mail/poppassd/poppassd_client.h"
#include "mail/poppassd/poppassd_exchange.h"
#include "mail/poppassd/poppassd_io.h"
#include "server/route/page_fixture.h"
#include <chrono>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

void Collect(void* context, const char* bytes, size_t n) {
    static_cast<std::string*>(context)->append(bytes, n);
}

// A record of exchanges.cases fed in pieces of size piece: a name, the
// server's replies and, if given, the user, old and new password. What was
// sent, whether the exchange is over, its step and refusal.
std::string FeedOnce(const mail_golden::Record& t, size_t piece) {
    const bool own = t.size() > 2;
    PoppassdExchange x;
    x.user = own ? t.at(2).c_str() : "taro";
    x.oldPassword = own ? t.at(3).c_str() : "old pw";
    x.newPassword = own ? t.at(4).c_str() : "new!pw";
    std::string sent;
    x.send = Collect;
    x.sendContext = &sent;
    const int over = mail_golden::InPieces(t.at(1), piece, [&](const std::string& part) {
        return poppassd_feed(x, part.data(), part.size());
    });
    return "sent \"" + sent + "\" over " + std::to_string(over) + " step " +
           std::to_string(x.step) + " refusal \"" + x.refusal + "\"";
}

// The result of the whole replies, which pieces of every small size must
// reproduce (pieces of one byte cut it at every byte at once);
// exchanges.ref holds the results.
TEST(PoppassdExchange, Exchanges) {
    std::string results;
    for (const auto& t : CASE_BLOCKS("exchanges.cases")) {
        SCOPED_TRACE(t.at(0));
        const std::string whole = FeedOnce(t, t.at(1).size());
        for (size_t piece = 1; piece <= 7; piece++)
            EXPECT_EQ(FeedOnce(t, piece), whole) << "pieces of " << piece;
        results += mail_golden::Section(t[0], whole);
    }
    EXPECT_GOLDEN("exchanges.ref", results);
    // The refusal text starts after the code.
    for (const auto& t : CASE_BLOCKS("refusal_text.ref")) {
        char text[kPoppassdRefusalSize];
        poppassd_refusal_text(t.at(0).c_str(), text);
        EXPECT_EQ(text, t.at(1)) << t[0];
    }
}

// The socket side of the poppassd client against scripted peers: failures a
// real server does not produce on demand (silence, a close in the middle),
// and the choice and resolution of the server name.

using namespace std::chrono_literals;

TEST(PoppassdSocket, SilenceOrCloseEndsWithTheStepReached) {
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    PoppassdExchange x;
    x.user = "taro";
    x.oldPassword = "old";
    x.newPassword = "new";
    // Bytes without a line end do not count as an answer.
    const std::string unfinished = "200 hi\r\n200 your pass", greeting = "200 hi\r\n";
    EXPECT_EQ(write(pair[1], unfinished.data(), unfinished.size()), ssize_t(unfinished.size()));
    auto start = std::chrono::steady_clock::now();
    poppassd_converse(pair[0], x, 1, nullptr, nullptr);
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(x.step, kPoppassdUserSent);
    EXPECT_GE(took, 900ms);
    EXPECT_LT(took, 3s);

    // A close after whole lines ends at once, long before the stall.
    PoppassdExchange y;
    EXPECT_EQ(write(pair[1], greeting.data(), greeting.size()), ssize_t(greeting.size()));
    close(pair[1]);
    start = std::chrono::steady_clock::now();
    poppassd_converse(pair[0], y, 30, nullptr, nullptr);
    EXPECT_EQ(y.step, kPoppassdUserSent);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
    close(pair[0]);
}

class PoppassdStartTest : public PageTest {};

TEST_F(PoppassdStartTest, NamesThatCannotResolveStartNoWorker) {
    ConnectionPtr c = Capture();
    c->user = LoggedIn("taro");
    BasicSettings& settings = data_store().settings;
    for (const auto& k : SERVER_CASES("unresolved_servers.ref")) {
        SCOPED_TRACE(k.at(1) + " set " + k.at(2));
        settings.per_user_servers = std::stoi(k.at(0));
        mail_golden::Put(settings.pop3_server, k[1]);
        const int set = std::stoi(k.at(2));
        char* own = set < kSettingsSets ? c->user->set[set].pop3_name : nullptr;
        if (own) snprintf(own, sizeof c->user->set[0].pop3_name, "%s", k.at(3).c_str());
        StartPoppassd(*c, set);
        EXPECT_EQ(c->workerResult, kPoppassdHostNotFound);
        EXPECT_FALSE(c->workerThread.joinable());
        EXPECT_EQ(c->mail.socket, -1);
        EXPECT_EQ(own ? own : "-", k.at(4));
    }
    char refusal[kPoppassdRefusalSize] = "stale";
    EXPECT_EQ(RunPoppassd("nosuch..invalid", "u", "o", "n", refusal), kPoppassdHostNotFound);
    EXPECT_STREQ(refusal, "");
}

// Against a real poppassd on 127.0.0.1:106, driven by
// tests/integration/poppassd_test.py, which makes the account and starts or
// stops the server. Skipped unless TARNBOX_POPPASSD_TEST=1.
//   TARNBOX_POPPASSD_EXPECT  changed | refused | closed
//   TARNBOX_POPPASSD_USER, _OLD, _NEW  the inputs
//   TARNBOX_POPPASSD_TEXT    the refusal text expected (refused only)
//   TARNBOX_POPPASSD_VIA     run (RunPoppassd) | worker (StartPoppassd)
std::string Env(const char* name) {
    const char* v = getenv(name);
    return v ? v : "";
}

class PoppassdLive : public PageTest {
protected:
    void SetUp() override {
        if (Env("TARNBOX_POPPASSD_TEST") != "1") GTEST_SKIP() << "needs TARNBOX_POPPASSD_TEST=1";
        PageTest::SetUp();
        workerTimeoutSeconds = 10;
    }
    // Through the worker, as the settings page does: returns the outcome and
    // the text left in the user's record.
    int ViaWorker(const std::string& user, const std::string& old, const std::string& fresh,
                  std::string& text) {
        ConnectionPtr c = Capture();
        c->user = LoggedIn("live");
        strcpy(c->user->runtime.pop3ErrorText[0], "stale");
        strcpy(data_store().settings.pop3_server, "127.0.0.1");
        server_cases::Put(c->formSlots[0], user);
        server_cases::Put(c->formSlots[1], old);
        server_cases::Put(c->formSlots[2], fresh);
        StartPoppassd(*c, 0);
        EXPECT_TRUE(c->workerThread.joinable());
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (c->workerRunning && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_FALSE(c->workerRunning);
        c->workerThread.join();
        EXPECT_EQ(c->mail.socket, -1);
        text = c->user->runtime.pop3ErrorText[0];
        return c->workerResult;
    }
};

TEST_F(PoppassdLive, Outcome) {
    const std::string expect = Env("TARNBOX_POPPASSD_EXPECT");
    const std::string user = Env("TARNBOX_POPPASSD_USER");
    const std::string old = Env("TARNBOX_POPPASSD_OLD");
    const std::string fresh = Env("TARNBOX_POPPASSD_NEW");
    int outcome;
    std::string text;
    if (Env("TARNBOX_POPPASSD_VIA") == "worker") {
        outcome = ViaWorker(user, old, fresh, text);
    } else {
        char refusal[kPoppassdRefusalSize];
        outcome = RunPoppassd("127.0.0.1", user.c_str(), old.c_str(), fresh.c_str(), refusal);
        text = refusal;
    }
    static const std::pair<const char*, int> kOutcomes[] = {{"changed", kPoppassdChanged},
                                                            {"refused", kPoppassdRefused},
                                                            {"closed", kPoppassdConnectFailed}};
    EXPECT_EQ(outcome, ValueNamed(kOutcomes, expect, "TARNBOX_POPPASSD_EXPECT", -1));
    if (expect != "closed") {
        EXPECT_EQ(text, expect == "refused" ? Env("TARNBOX_POPPASSD_TEXT") : "");
    }
}

} // namespace
