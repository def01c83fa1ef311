// Against a real poppassd on 127.0.0.1:106, driven by
// tests/integration/poppassd_test.py, which makes the account and starts or
// stops the server. Skipped unless TARNBOX_POPPASSD_TEST=1.
//   TARNBOX_POPPASSD_EXPECT  changed | refused | closed
//   TARNBOX_POPPASSD_USER, _OLD, _NEW  the inputs
//   TARNBOX_POPPASSD_TEXT    the refusal text expected (refused only)
//   TARNBOX_POPPASSD_VIA     run (RunPoppassd) | worker (StartPoppassd)
#include "mail/poppassd/poppassd_client.h"
#include "server/route/page_fixture.h"
#include <chrono>
#include <thread>

namespace {

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
        snprintf(c->formSlots[0], kFieldSize, "%s", user.c_str());
        snprintf(c->formSlots[1], kFieldSize, "%s", old.c_str());
        snprintf(c->formSlots[2], kFieldSize, "%s", fresh.c_str());
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
    if (expect == "changed") {
        EXPECT_EQ(outcome, kPoppassdChanged);
        EXPECT_EQ(text, "");
    } else if (expect == "refused") {
        EXPECT_EQ(outcome, kPoppassdRefused);
        EXPECT_EQ(text, Env("TARNBOX_POPPASSD_TEXT"));
    } else if (expect == "closed") {
        EXPECT_EQ(outcome, kPoppassdConnectFailed);
    } else {
        FAIL() << "unknown TARNBOX_POPPASSD_EXPECT: " << expect;
    }
}

} // namespace
