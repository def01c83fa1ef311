#include "mail/pop3/pop3_client.h"
#include "pop3_fixture.h"
#include <arpa/inet.h>
#include <chrono>
#include <mutex>
#include <netinet/in.h>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

// A POP3 server on 127.0.0.1 for one connection: it greets (unless the
// greeting is empty), records every command line and answers each with the
// next reply; a command beyond the replies gets silence.
class FakeServer {
public:
    FakeServer(std::string greeting, std::vector<std::string> replies)
        : greeting_(std::move(greeting)), replies_(std::move(replies)) {
        listener_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof a;
        EXPECT_EQ(bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        EXPECT_EQ(listen(listener_, 1), 0);
        getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &length);
        port = ntohs(a.sin_port);
        thread_ = std::thread([this] { Serve(); });
    }
    ~FakeServer() {
        stop_ = true;
        thread_.join();
        close(listener_);
    }
    std::vector<std::string> Commands() {
        std::lock_guard<std::mutex> hold(mutex_);
        return commands_;
    }
    int port = 0;

private:
    void Serve() {
        pollfd p{listener_, POLLIN, 0};
        while (!stop_ && poll(&p, 1, 20) == 0) {
        }
        if (stop_) return;
        int fd = accept(listener_, nullptr, nullptr);
        if (!greeting_.empty()) send(fd, greeting_.data(), greeting_.size(), MSG_NOSIGNAL);
        std::string pending;
        size_t next = 0;
        while (!stop_) {
            pollfd q{fd, POLLIN, 0};
            if (poll(&q, 1, 20) <= 0) continue;
            char buffer[512];
            ssize_t n = recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0) break;
            pending.append(buffer, static_cast<size_t>(n));
            for (size_t end; (end = pending.find("\r\n")) != std::string::npos;) {
                {
                    std::lock_guard<std::mutex> hold(mutex_);
                    commands_.push_back(pending.substr(0, end));
                }
                pending.erase(0, end + 2);
                if (next < replies_.size()) {
                    send(fd, replies_[next].data(), replies_[next].size(), MSG_NOSIGNAL);
                    next++;
                }
            }
        }
        close(fd);
    }

    std::string greeting_;
    std::vector<std::string> replies_;
    int listener_ = -1;
    std::atomic<bool> stop_{false};
    std::thread thread_;
    std::mutex mutex_;
    std::vector<std::string> commands_;
};

int ClosedPort() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
    close(fd);
    return ntohs(a.sin_port);
}

class WorkerTest : public PageTest {
protected:
    void SetUp() override {
        PageTest::SetUp();
        taro = LoggedIn("taro");
        c = Capture();
        c->user = taro;
        c->route = Route::Mail;
        snprintf(c->userName, sizeof c->userName, "taro");
        snprintf(c->loginQuery, sizeof c->loginQuery, "%s", kQ.c_str());
        snprintf(settings().pop3_server, sizeof settings().pop3_server, "127.0.0.1");
    }
    void TearDown() override {
        Finish();
        if (c->mailSocket >= 0) close(c->mailSocket);
        c.reset();
        PageTest::TearDown();
    }
    BasicSettings& settings() { return data_store().settings; }
    void Run(PageState state, int port, int item = 12) {
        settings().pop3_port = port;
        c->state = state;
        c->itemNumber = item;
        c->lastActivity = Now();
        start_pop3(*c);
    }
    // Waits for the worker's last action.
    bool Finish(std::chrono::milliseconds limit = 10s) {
        auto until = std::chrono::steady_clock::now() + limit;
        while (c->workerRunning && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(5ms);
        return !c->workerRunning;
    }

    UserRecord* taro = nullptr;
    ConnectionPtr c;
};

TEST_F(WorkerTest, ApopChoice) {
    const struct {
        int changeable, userFlag, languagePolicy;
        bool apop;
    } cases[] = {
        {1, 1, 1, true},
        {1, 0, 1 | kLanguageApopOn, false},
        {0, 1, 1, false},
        {0, 0, 1 | kLanguageApopOn, true},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.changeable * 100 + k.userFlag * 10 + (k.languagePolicy > 1));
        settings().apop_changeable = k.changeable;
        settings().language_policy = k.languagePolicy;
        taro->set[0].apop_flag = k.userFlag;
        FakeServer server("+OK <1.2@x>\r\n", {"-ERR no\r\n", "+OK\r\n"});
        if (c->mailSocket >= 0) close(c->mailSocket);
        c->mailSocket = -1;
        out.clear();
        Run(PageState::ListWait, server.port);
        ASSERT_TRUE(Finish());
        c->workerThread.join();
        char digest[33];
        apop_digest("<1.2@x>", "pw", digest);
        std::vector<std::string> commands = server.Commands();
        ASSERT_FALSE(commands.empty());
        EXPECT_EQ(commands[0], k.apop ? "APOP taro " + std::string(digest) : "USER taro");
    }
}

TEST_F(WorkerTest, ConnectionRefused) {
    for (bool furtherSet : {false, true}) {
        SCOPED_TRACE(furtherSet);
        if (c->mailSocket >= 0) close(c->mailSocket);
        c->mailSocket = -1;
        c->parent = furtherSet ? c.get() : nullptr;
        c->settingsIndex = furtherSet ? 1 : 0;
        taro->runtime.pop3Status[c->settingsIndex] = kPop3None;
        Run(PageState::ListWait, ClosedPort());
        ASSERT_TRUE(Finish());
        c->workerThread.join();
        EXPECT_EQ(c->workerResult, ConnectFailed);
        EXPECT_EQ(taro->runtime.pop3Status[c->settingsIndex], kPop3ConnectFailed);
        // The dispatcher writes the page of the browser's own exchange.
        EXPECT_EQ(c->state, furtherSet ? PageState::WorkerDone : PageState::ListWait);
        EXPECT_EQ(out, "");
    }
    c->parent = nullptr;
}

TEST_F(WorkerTest, ServerNameNotFound) {
    const struct {
        int perUser;
        const char *server, *own;
        uint16_t status;
        const char* ownAfter;
    } cases[] = {
        {0, "nosuch..invalid", "", kPop3None, ""},
        {1, "nosuch..invalid", "", kPop3ServerNotFound, "nosuch..invalid"},
        {1, "127.0.0.1", "pop.invalid", kPop3ServerNotFound, "pop.invalid"},
        {0, "name with blank", "127.0.0.1", kPop3None, "127.0.0.1"},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.server);
        settings().per_user_servers = k.perUser;
        snprintf(settings().pop3_server, sizeof settings().pop3_server, "%s", k.server);
        snprintf(taro->set[0].pop3_name, sizeof taro->set[0].pop3_name, "%s", k.own);
        taro->runtime.pop3Status[0] = kPop3None;
        Run(PageState::ListWait, 110);
        EXPECT_EQ(c->workerResult, HostNotFound);
        EXPECT_FALSE(c->workerThread.joinable());
        EXPECT_EQ(c->mailSocket, -1);
        EXPECT_EQ(taro->runtime.pop3Status[0], k.status);
        EXPECT_STREQ(taro->set[0].pop3_name, k.ownAfter);
    }
}

TEST_F(WorkerTest, WaitsWhileTheUserIsBusy) {
    FakeServer server("+OK ready\r\n", {"+OK\r\n", "+OK\r\n", "-ERR gone\r\n", "+OK\r\n"});
    taro->runtime.busy = 1;
    Run(PageState::MessageWait, server.port);
    std::this_thread::sleep_for(300ms);
    EXPECT_TRUE(server.Commands().empty());
    EXPECT_TRUE(c->workerRunning);
    taro->runtime.busy = 0;
    ASSERT_TRUE(Finish());
    EXPECT_EQ(server.Commands().size(), 4u);
    EXPECT_EQ(taro->runtime.busy, 0);
}

TEST_F(WorkerTest, ExchangeTakenOverByTheDispatcher) {
    // The server never greets; the dispatcher writes its error page, shuts
    // the socket down and moves the state on. The worker adds nothing, also
    // when it wakes before the state has moved.
    for (bool stateMoved : {true, false}) {
        SCOPED_TRACE(stateMoved);
        FakeServer server("", {});
        if (c->mailSocket >= 0) close(c->mailSocket);
        c->mailSocket = -1;
        Run(PageState::ListWait, server.port);
        std::this_thread::sleep_for(200ms);
        EXPECT_EQ(c->workerResult, AwaitGreeting);
        EXPECT_EQ(taro->runtime.busy, 1);
        if (stateMoved) c->state = PageState::Done;
        c->lastActivity = Now() - workerTimeoutSeconds - 1;
        shutdown(c->mailSocket, SHUT_RDWR);
        ASSERT_TRUE(Finish(2s));
        c->workerThread.join();
        EXPECT_EQ(out, "");
        EXPECT_EQ(c->state, stateMoved ? PageState::Done : PageState::ListWait);
        EXPECT_EQ(taro->runtime.busy, 0);
    }
}

TEST_F(WorkerTest, FurtherSetGivesUpOnASilentServer) {
    // Nobody supervises the exchange of a further set: it stops by itself.
    workerTimeoutSeconds = 1;
    FakeServer server("", {});
    c->parent = c.get();
    c->settingsIndex = 2;
    snprintf(taro->set[2].id, sizeof taro->set[2].id, "taro3");
    Run(PageState::ListWait, server.port);
    ASSERT_TRUE(Finish(5s));
    EXPECT_EQ(taro->runtime.pop3Status[2], kPop3ExchangeError);
    EXPECT_EQ(c->state, PageState::Closing);
    c->parent = nullptr;
}

TEST(Pop3Names, ValidityAndLiterals) {
    const struct {
        const char* name;
        bool valid;
    } names[] = {
        {"pop.example.jp", true},
        {"pop.example.jp.", true},
        {"mail_1-a", true},
        {"nosuch..invalid", false},
        {".example.jp", false},
        {"pop.invalid", false},
        {"POP.INVALID.", false},
        {"invalidity.jp", true},
        {"", false},
        {"a b", false},
        {"pop\x82\xa0.jp", false},
        {"xn--zck.jp", true},
        {"pop.example.jp..", false},
        {"localhost:110", false},
    };
    for (const auto& k : names) EXPECT_EQ(pop3_name_valid(k.name), k.valid) << k.name;
    std::string label(63, 'a');
    EXPECT_TRUE(pop3_name_valid((label + ".jp").c_str()));
    EXPECT_FALSE(pop3_name_valid((label + "a.jp").c_str()));

    sockaddr_storage a;
    ASSERT_TRUE(pop3_resolve("127.0.0.1", 110, a));
    ASSERT_EQ(a.ss_family, AF_INET);
    EXPECT_EQ(ntohs(reinterpret_cast<sockaddr_in&>(a).sin_port), 110);
    EXPECT_EQ(ntohl(reinterpret_cast<sockaddr_in&>(a).sin_addr.s_addr), 0x7F000001u);
    for (const char* v6 : {"::1", "[::1]"}) {
        ASSERT_TRUE(pop3_resolve(v6, 11110, a)) << v6;
        ASSERT_EQ(a.ss_family, AF_INET6);
        EXPECT_EQ(ntohs(reinterpret_cast<sockaddr_in6&>(a).sin6_port), 11110);
        EXPECT_TRUE(IN6_IS_ADDR_LOOPBACK(&reinterpret_cast<sockaddr_in6&>(a).sin6_addr));
    }
    // None of these may reach the resolver.
    for (const char* bad : {"nosuch..invalid", "x.invalid", "[::1", "127.0.0.1 "})
        EXPECT_FALSE(pop3_resolve(bad, 110, a)) << bad;
}

TEST(Pop3DeleteList, SplitBySettingsLetter) {
    const struct {
        const char* list;
        int routed;
        const char *set0, *set1, *set2;
    } cases[] = {
        {"a1,b2,c3,a4,", 0, "1,4,", "2,", "3,"},
        {"b12,b7,", 0, "", "12,7,", ""},
        {"5,", 2, "", "", "5,"}, // a deletion from a message page of set 3
        {"a,b,x9,,c,", 0, "9,", "", ""},
        {"", 0, "", "", ""},
    };
    for (const auto& k : cases) {
        char lists[kSettingsSets][kLineSize];
        pop3_split_delete_list(k.list, k.routed, lists);
        EXPECT_STREQ(lists[0], k.set0) << k.list;
        EXPECT_STREQ(lists[1], k.set1) << k.list;
        EXPECT_STREQ(lists[2], k.set2) << k.list;
    }
}

TEST_F(WorkerTest, MergedListWithoutFurtherSets) {
    install_pop3_client();
    settings().multiple_addresses = 1;
    const struct {
        const char* list;
        PageState state, after;
        const char* own;
    } cases[] = {
        {"a3,a5,", PageState::DeleteWait, PageState::DeleteWait, "3,5,"},
        {"b3,", PageState::DeleteWait, PageState::ListWait, ""},
        {"", PageState::ListWait, PageState::ListWait, ""},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.list);
        snprintf(c->deleteList, sizeof c->deleteList, "%s", k.list);
        c->state = k.state;
        c->settingsIndex = 1;
        taro->runtime.pop3Status[1] = taro->runtime.pop3Status[2] = kPop3LoginFailed;
        start_pop3_all_settings(*c);
        EXPECT_EQ(c->state, k.after);
        EXPECT_EQ(c->settingsIndex, 0);
        if (k.state == PageState::DeleteWait) {
            EXPECT_STREQ(c->deleteList, k.own);
        }
        // Sets without a POP3 user name count as done at once.
        EXPECT_EQ(taro->runtime.pop3Status[1], kPop3Connected);
        EXPECT_TRUE(ExtraSetFinished(*c, 1));
        EXPECT_TRUE(ExtraSetFinished(*c, 2));
    }
}

} // namespace
