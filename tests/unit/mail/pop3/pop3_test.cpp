// POP3 exchanges of taro's with the test playing the server: the client
// fed through a socket pair, and the worker, which makes its own connection,
// against a listening socket on 127.0.0.1.
#include "mail/mail_fixture.h"
#include "mail/mail_golden.h"
#include "mail/net/mail_link.h"
#include "mail/net/mail_tls.h"
#include "mail/pop3/extra_runs.h"
#include "mail/pop3/pop3_client.h"
#include "mail/pop3/pop3_login_check.h"
#include "mail/pop3/pop3_state.h"
#include "store/mail_security.h"
#include <arpa/inet.h>
#include <chrono>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <thread>

namespace {

uint16_t StepNamed(const std::string& name) {
#define STEP(n) std::pair<const char*, uint16_t>(#n, n)
    static const std::pair<const char*, uint16_t> kSteps[] = {
        STEP(AwaitGreeting), STEP(AwaitGreetingApop), STEP(UserSent),        STEP(PassSent),
        STEP(StatSent),      STEP(ListingFull),       STEP(FetchingHeaders), STEP(Deleting),
        STEP(Quitting),      STEP(TlsFailed)};
#undef STEP
    return ValueNamed(kSteps, name, "step", uint16_t{0});
}

// A POP3 exchange of taro's, the test playing the server.
class Pop3Exchange : public MailTest {
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
        pollfd p{c->mail.socket, POLLIN, 0};
        while (r == 0 && poll(&p, 1, 0) > 0) r = pop3_poll(*c);
        return r;
    }
    void Start(PageState state, uint16_t step) {
        c->state = state;
        c->workerResult = step;
    }

    // One record of exchanges.cases; "golden" sections are added to golden.
    void Play(const mail_golden::Record& record, size_t piece, std::string& golden) {
        static const std::pair<const char*, uint16_t> kStatus[] = {
            {"none", kPop3None},
            {"login-failed", kPop3LoginFailed},
            {"mail-not-found", kPop3MailNotFound}};
        std::string sent;
        auto reply = [&](const std::string& bytes) {
            return mail_golden::InPieces(bytes, piece, [&](const std::string& part) {
                const int r = Reply(part);
                sent += Sent();
                return r;
            });
        };
        // "set text": the number of a settings set, then the rest.
        auto setOf = [](const std::string& a) { return std::stoi(a); };
        auto rest = [](const std::string& a) { return a.substr(std::min(a.size(), size_t{2})); };
        using S = const std::string&;
        mail_golden::Play(
            record,
            {{"start",
              [&](S a) {
                  const size_t blank = a.find(' ');
                  Start(StateNamed(a.substr(0, blank)), StepNamed(a.substr(blank + 1)));
              }},
             {"reply", [&](S a) { EXPECT_EQ(reply(a), 0); }},
             {"reply-ends", [&](S a) { EXPECT_EQ(reply(a), 1); }},
             {"sent",
              [&](S a) {
                  EXPECT_EQ(sent + Sent(), a);
                  sent.clear();
              }},
             {"result", [&](S a) { EXPECT_EQ(c->workerResult, StepNamed(a)); }},
             {"now", [&](S a) { EXPECT_EQ(c->state, StateNamed(a)); }},
             {"deleted", [&](S a) { EXPECT_EQ(c->pop3.deletedCount, std::stoi(a)); }},
             {"page", [&](S a) { EXPECT_NE(out.find(a), std::string::npos) << out; }},
             {"page-empty", [&](S) { EXPECT_EQ(out, ""); }},
             {"golden", [&](S a) { golden += mail_golden::Section(a, MaskDates(out)); }},
             {"tls-not-offered",
              [&](S) {
                  EXPECT_EQ(c->mail.tlsFailure, static_cast<uint8_t>(TlsFailure::NotOffered));
              }},
             {"status",
              [&](S a) {
                  EXPECT_EQ(taro->runtime.pop3Status[setOf(a)],
                            ValueNamed(kStatus, rest(a), "status", uint16_t{1}));
              }},
             {"error-text",
              [&](S a) { EXPECT_EQ(taro->runtime.pop3ErrorText[setOf(a)], rest(a)); }},
             {"security", [&](S) { c->pop3.security = static_cast<uint8_t>(Pop3Security::Stls); }},
             {"delete",
              [&](S a) { snprintf(c->deleteList, sizeof c->deleteList, "%s", a.c_str()); }},
             {"ahead-multiline",
              [&](S a) {
                  c->pop3.ahead = static_cast<uint16_t>(std::stoi(a));
                  c->pop3.aheadMultiline = 1;
              }},
             {"oauth",
              [&](S a) {
                  c->pop3.oauth = 1;
                  snprintf(c->saslResponse, sizeof c->saslResponse, "%s", a.c_str());
              }},
             {"detail",
              [&](S a) { snprintf(c->saslDetail, sizeof c->saslDetail, "%s", a.c_str()); }},
             {"item", [&](S a) { c->itemNumber = std::stoi(a); }},
             {"line", [&](S a) { EXPECT_EQ(c->line, a); }},
             {"closed",
              [&](S) {
                  close(peer);
                  peer = -1;
                  EXPECT_EQ(pop3_poll(*c), -1);
              }},
             {"idle", [&](S) { c->lastActivity = 0; }},
             {"still-idle", [&](S) { EXPECT_EQ(c->lastActivity, 0); }},
             {"active", [&](S) { EXPECT_GE(c->lastActivity, Now() - 1); }},
             {"set", [&](S a) { c->settingsIndex = static_cast<int16_t>(setOf(a)); }},
             {"parent", [&](S) { c->parent = c.get(); }}, // only its presence counts
             {"header-phase", [&](S) { c->pop3.headerPhase = 1; }},
             {"id",
              [&](S a) { snprintf(taro->set[0].id, sizeof taro->set[0].id, "%s", a.c_str()); }},
             {"password", [&](S a) {
                  snprintf(taro->set[0].password, sizeof taro->set[0].password, "%s", a.c_str());
              }}});
        c->parent = nullptr;
    }
};

TEST_F(Pop3Exchange, Exchanges) {
    std::string golden;
    for (const auto& record : mail_golden::ReadCases(GOLDEN_PATH("exchanges.cases")))
        for (size_t piece : mail_golden::Pieces(record, 1 << 20)) {
            SCOPED_TRACE(testing::Message() << record.at(1) << " / piece " << piece);
            Fresh();
            Play(record, piece, golden);
        }
    EXPECT_GOLDEN("error_pages.ref", golden);
}

TEST(Pop3LoginCheck, Exchanges) {
    for (const auto& record : mail_golden::ReadCases(GOLDEN_PATH("login_checks.cases"))) {
        SCOPED_TRACE(record.at(0));
        Pop3LoginCheck x;
        x.user = "hanako";
        x.password = "secret";
        std::string sent;
        using S = const std::string&;
        mail_golden::Play(
            record,
            {{"apop", [&](S) { x.apop = true; }},
             {"stls", [&](S) { x.stls = true; }},
             {"user", [&](S a) { x.user = a; }},
             {"password", [&](S a) { x.password = a; }},
             {"reply",
              [&](S a) {
                  std::string command = x.line(a);
                  if (x.startTls) {
                      sent += "<TLS>\n";
                      command = x.after_tls();
                  }
                  if (!command.empty()) sent += command + "\n";
              }},
             {"sent", [&](S a) { EXPECT_EQ(sent, a); }},
             {"outcome", [&](S a) { EXPECT_EQ(static_cast<int>(x.outcome), std::stoi(a)); }},
             {"refusal", [&](S a) { EXPECT_EQ(x.refusal, a); }},
             {"done", [&](S) { EXPECT_EQ(x.step, Pop3LoginCheck::Done); }}});
    }
}

using namespace std::chrono_literals;

// A listening socket on 127.0.0.1. Connections wait in its backlog, silent,
// until the test accepts one and plays the server itself.
class Listener {
public:
    Listener() {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof a;
        EXPECT_EQ(bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        EXPECT_EQ(listen(fd_, 1), 0);
        getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &length);
        port = ntohs(a.sin_port);
        timeval limit{5, 0}; // for accept and for the reads of Command
        setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    }
    ~Listener() { close(fd_); }
    // The next connection, greeted.
    int Accept(const std::string& greeting) {
        const int s = accept(fd_, nullptr, nullptr);
        send(s, greeting.data(), greeting.size(), MSG_NOSIGNAL);
        return s;
    }
    int port = 0;

private:
    int fd_ = socket(AF_INET, SOCK_STREAM, 0);
};

// The next command line from the client, without its line end.
std::string Command(int s) {
    std::string line;
    for (char ch; recv(s, &ch, 1, 0) == 1 && ch != '\n';) line += ch;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

// The worker makes its own connection: the fixture's socket pair goes.
class WorkerTest : public MailTest {
protected:
    void SetUp() override {
        MailTest::SetUp();
        close(c->mail.socket);
        close(peer);
        c->mail.socket = peer = -1;
        snprintf(settings().pop3_server, sizeof settings().pop3_server, "127.0.0.1");
    }
    void TearDown() override {
        Finish();
        MailTest::TearDown();
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
};

TEST_F(WorkerTest, ApopChoice) {
    const auto cases = mail_golden::ReadCases(GOLDEN_PATH("apop_choice.cases"));
    for (const auto& k : cases) {
        SCOPED_TRACE(&k - &cases[0]);
        settings().apop_changeable = std::stoi(k.at(0));
        taro->set[0].apop_flag = std::stoi(k.at(1));
        settings().language_policy = std::stoi(k.at(2));
        Listener server;
        if (c->mail.socket >= 0) close(c->mail.socket);
        c->mail.socket = -1;
        Run(PageState::ListWait, server.port);
        const int s = server.Accept("+OK <1.2@x>\r\n");
        EXPECT_EQ(Command(s), k.at(3));
        close(s);
        ASSERT_TRUE(Finish());
        c->workerThread.join();
    }
}

TEST_F(WorkerTest, ServerNameNotFound) {
    for (const auto& k : mail_golden::ReadCases(GOLDEN_PATH("unresolved_servers.cases"))) {
        SCOPED_TRACE(k.at(1));
        settings().per_user_servers = std::stoi(k.at(0));
        snprintf(settings().pop3_server, sizeof settings().pop3_server, "%s", k[1].c_str());
        snprintf(taro->set[0].pop3_name, sizeof taro->set[0].pop3_name, "%s", k.at(2).c_str());
        taro->runtime.pop3Status[0] = kPop3None;
        Run(PageState::ListWait, 110);
        EXPECT_EQ(c->workerResult, HostNotFound);
        EXPECT_FALSE(c->workerThread.joinable());
        EXPECT_EQ(c->mail.socket, -1);
        EXPECT_EQ(taro->runtime.pop3Status[0], std::stoi(k.at(3)));
        EXPECT_EQ(taro->set[0].pop3_name, k.at(4));
    }
}

TEST_F(WorkerTest, WaitsWhileTheUserIsBusy) {
    Listener server;
    taro->runtime.busy = 1;
    Run(PageState::MessageWait, server.port);
    const int s = server.Accept("+OK ready\r\n");
    std::this_thread::sleep_for(300ms);
    char ch;
    EXPECT_EQ(recv(s, &ch, 1, MSG_DONTWAIT), -1); // nothing sent yet
    EXPECT_TRUE(c->workerRunning);
    taro->runtime.busy = 0;
    EXPECT_EQ(Command(s), "USER taro");
    close(s);
    ASSERT_TRUE(Finish());
    EXPECT_EQ(taro->runtime.busy, 0);
}

TEST_F(WorkerTest, ExchangeTakenOverByTheDispatcher) {
    // The server never greets; the dispatcher writes its error page and shuts
    // the socket down. The worker adds nothing, also when it wakes before the
    // dispatcher has moved the state on.
    Listener server;
    Run(PageState::ListWait, server.port);
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(c->workerResult, AwaitGreeting);
    EXPECT_EQ(taro->runtime.busy, 1);
    c->lastActivity = Now() - workerTimeoutSeconds - 1;
    shutdown(c->mail.socket, SHUT_RDWR);
    ASSERT_TRUE(Finish(2s));
    c->workerThread.join();
    EXPECT_EQ(out, "");
    EXPECT_EQ(c->state, PageState::ListWait);
    EXPECT_EQ(taro->runtime.busy, 0);
}

TEST_F(WorkerTest, FurtherSetGivesUpOnASilentServer) {
    // Nobody supervises the exchange of a further set: it stops by itself.
    workerTimeoutSeconds = 1;
    Listener server;
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
    for (const auto& t : mail_golden::ReadCases(GOLDEN_PATH("pop3_names.ref")))
        EXPECT_EQ(pop3_name_valid(t.at(0).c_str()), t.at(1) == "1") << t[0];

    // None of these may reach the resolver.
    sockaddr_storage a;
    for (const char* bad : {"nosuch..invalid", "x.invalid", "[::1", "127.0.0.1 "})
        EXPECT_FALSE(pop3_resolve(bad, 110, a)) << bad;
}

TEST(Pop3DeleteList, SplitBySettingsLetter) {
    for (const auto& t : mail_golden::ReadCases(GOLDEN_PATH("delete_lists.ref"))) {
        char lists[kSettingsSets][kLineSize];
        pop3_split_delete_list(t.at(0).c_str(), std::stoi(t.at(1)), lists);
        for (int set = 0; set < 3; set++) EXPECT_EQ(lists[set], t.at(2 + set)) << t[0] << set;
    }
}

TEST_F(WorkerTest, MergedListWithoutFurtherSets) {
    worker_starts() = kMailWorkerStarts;
    settings().multiple_addresses = 1;
    for (const auto& k : mail_golden::ReadCases(GOLDEN_PATH("merged_deletions.cases"))) {
        SCOPED_TRACE(k.at(0));
        snprintf(c->deleteList, sizeof c->deleteList, "%s", k[0].c_str());
        c->state = StateNamed(k.at(1));
        c->settingsIndex = 1;
        taro->runtime.pop3Status[1] = taro->runtime.pop3Status[2] = kPop3LoginFailed;
        start_pop3_all_settings(*c);
        EXPECT_EQ(c->state, StateNamed(k.at(2)));
        EXPECT_EQ(c->settingsIndex, 0);
        if (k[1] == "DeleteWait") {
            EXPECT_EQ(c->deleteList, k.at(3));
        }
        // Sets without a POP3 user name count as done at once.
        EXPECT_EQ(taro->runtime.pop3Status[1], kPop3Connected);
        EXPECT_TRUE(pop3_extra_finished(*c, 1));
        EXPECT_TRUE(pop3_extra_finished(*c, 2));
    }
}

} // namespace
