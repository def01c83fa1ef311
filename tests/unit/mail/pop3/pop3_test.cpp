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
#include <optional>
#include <poll.h>
#include <thread>

namespace {

uint16_t StepNamed(const std::string& name) {
#define STEP(n) std::pair<const char*, uint16_t>(#n, n)
    static const std::pair<const char*, uint16_t> kSteps[] = {
        STEP(AwaitGreeting), STEP(AwaitGreetingApop), STEP(UserSent),        STEP(PassSent),
        STEP(StatSent),      STEP(ListingFull),       STEP(FetchingHeaders), STEP(Deleting),
        STEP(Quitting),      STEP(TlsFailed),         STEP(HostNotFound)};
#undef STEP
    return ValueNamed(kSteps, name, "step", uint16_t{0});
}

uint16_t StatusNamed(const std::string& name) {
    static const std::pair<const char*, uint16_t> kStatus[] = {
        {"none", kPop3None},
        {"connected", kPop3Connected},
        {"exchange-error", kPop3ExchangeError},
        {"server-not-found", kPop3ServerNotFound},
        {"login-failed", kPop3LoginFailed},
        {"mail-not-found", kPop3MailNotFound}};
    return ValueNamed(kStatus, name, "status", uint16_t{1});
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
    // The actions of the client's and the worker's scripts alike; "set
    // text" takes the number of a settings set, then the rest.
    mail_golden::Actions Shared() {
        auto setOf = [](const std::string& a) { return std::stoi(a); };
        auto rest = [](const std::string& a) { return a.substr(std::min(a.size(), size_t{2})); };
        return {{"result", [&](S a) { EXPECT_EQ(c->workerResult, StepNamed(a)); }},
                {"now", [&](S a) { EXPECT_EQ(c->state, StateNamed(a)); }},
                {"status",
                 [=, this](S a) {
                     EXPECT_EQ(taro->runtime.pop3Status[setOf(a)], StatusNamed(rest(a)));
                 }},
                {"set-status",
                 [=, this](S a) { taro->runtime.pop3Status[setOf(a)] = StatusNamed(rest(a)); }},
                {"error-text",
                 [=, this](S a) { EXPECT_EQ(taro->runtime.pop3ErrorText[setOf(a)], rest(a)); }},
                {"set-id", [=, this](S a) { mail_golden::Put(taro->set[setOf(a)].id, rest(a)); }},
                {"page-empty", [&](S) { EXPECT_EQ(out, ""); }},
                {"delete", [&](S a) { mail_golden::Put(c->deleteList, a); }},
                {"set", [&](S a) { c->settingsIndex = static_cast<int16_t>(std::stoi(a)); }},
                {"parent", [&](S) { c->parent = c.get(); }}}; // only its presence counts
    }

    // One record of exchanges.cases; "golden" sections are added to golden.
    void Play(const mail_golden::Record& record, size_t piece, std::string& golden) {
        std::string sent;
        auto reply = [&](const std::string& bytes) {
            return mail_golden::InPieces(bytes, piece, [&](const std::string& part) {
                const int r = Reply(part);
                sent += Sent();
                return r;
            });
        };
        mail_golden::Actions actions = Shared();
        actions.insert(
            {{"start",
              [&](S a) {
                  const size_t blank = a.find(' ');
                  c->state = StateNamed(a.substr(0, blank));
                  c->workerResult = StepNamed(a.substr(blank + 1));
              }},
             {"reply", [&](S a) { EXPECT_EQ(reply(a), 0); }},
             {"reply-ends", [&](S a) { EXPECT_EQ(reply(a), 1); }},
             {"sent",
              [&](S a) {
                  EXPECT_EQ(sent + Sent(), a);
                  sent.clear();
              }},
             {"deleted", [&](S a) { EXPECT_EQ(c->pop3.deletedCount, std::stoi(a)); }},
             {"page", [&](S a) { EXPECT_NE(out.find(a), std::string::npos) << out; }},
             {"golden", [&](S a) { golden += mail_golden::Section(a, MaskDates(out)); }},
             {"tls-not-offered",
              [&](S) {
                  EXPECT_EQ(c->mail.tlsFailure, static_cast<uint8_t>(TlsFailure::NotOffered));
              }},
             {"security", [&](S) { c->pop3.security = static_cast<uint8_t>(Pop3Security::Stls); }},
             {"ahead-multiline",
              [&](S a) {
                  c->pop3.ahead = static_cast<uint16_t>(std::stoi(a));
                  c->pop3.aheadMultiline = 1;
              }},
             {"oauth",
              [&](S a) {
                  c->pop3.oauth = 1;
                  mail_golden::Put(c->saslResponse, a);
              }},
             {"detail", [&](S a) { mail_golden::Put(c->saslDetail, a); }},
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
             {"header-phase", [&](S) { c->pop3.headerPhase = 1; }},
             {"password", [&](S a) { mail_golden::Put(taro->set[0].password, a); }}});
        mail_golden::Play(record, actions);
        c->parent = nullptr;
    }
};

TEST_F(Pop3Exchange, Exchanges) {
    std::string golden;
    for (const auto& record : CASE_BLOCKS("exchanges.cases"))
        for (size_t piece : mail_golden::Pieces(record, 1 << 20)) {
            SCOPED_TRACE(testing::Message() << record.at(1) << " / piece " << piece);
            Fresh();
            Play(record, piece, golden);
        }
    EXPECT_GOLDEN("error_pages.ref", golden);
}

TEST(Pop3LoginCheck, Exchanges) {
    for (const auto& record : CASE_BLOCKS("login_checks.cases")) {
        SCOPED_TRACE(record.at(0));
        Pop3LoginCheck x;
        x.user = "hanako";
        x.password = "secret";
        std::string sent;
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
        sockaddr_storage a = AddressOf("127.0.0.1");
        socklen_t length = sizeof(sockaddr_in);
        EXPECT_EQ(bind(fd_, reinterpret_cast<sockaddr*>(&a), length), 0);
        EXPECT_EQ(listen(fd_, 1), 0);
        getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &length);
        port = ntohs(reinterpret_cast<sockaddr_in*>(&a)->sin_port);
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
class WorkerTest : public Pop3Exchange {
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
    // Waits for the worker's last action.
    bool Finish(std::chrono::seconds limit = 10s) {
        auto until = std::chrono::steady_clock::now() + limit;
        while (c->workerRunning && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(5ms);
        return !c->workerRunning;
    }
};

TEST_F(WorkerTest, Scripts) {
    for (const auto& record : CASE_BLOCKS("worker.cases")) {
        SCOPED_TRACE(record.at(0));
        TearDown();
        SetUp();
        std::optional<Listener> server;
        int s = -1;
        mail_golden::Actions actions = Shared();
        actions.insert(
            {{"apop-changeable", [&](S a) { settings().apop_changeable = std::stoi(a); }},
             {"apop-flag", [&](S a) { taro->set[0].apop_flag = std::stoi(a); }},
             {"language", [&](S a) { settings().language_policy = std::stoi(a); }},
             {"per-user-servers", [&](S a) { settings().per_user_servers = std::stoi(a); }},
             {"multiple-addresses", [&](S) { settings().multiple_addresses = 1; }},
             {"server", [&](S a) { mail_golden::Put(settings().pop3_server, a); }},
             {"own-server", [&](S a) { mail_golden::Put(taro->set[0].pop3_name, a); }},
             {"own-server-is", [&](S a) { EXPECT_EQ(taro->set[0].pop3_name, a); }},
             {"worker-timeout", [&](S a) { workerTimeoutSeconds = std::stoi(a); }},
             {"worker-starts", [&](S) { worker_starts() = kMailWorkerStarts; }},
             {"listen", [&](S) { server.emplace(); }},
             {"run",
              [&](S a) {
                  settings().pop3_port = server ? server->port : 110;
                  c->state = StateNamed(a);
                  c->itemNumber = 12;
                  c->lastActivity = Now();
                  start_pop3(*c);
              }},
             {"accept", [&](S a) { s = server->Accept(a); }},
             {"command", [&](S a) { EXPECT_EQ(Command(s), a); }},
             {"close", [&](S) { close(s); }},
             {"silent",
              [&](S) {
                  char ch;
                  EXPECT_EQ(recv(s, &ch, 1, MSG_DONTWAIT), -1);
              }},
             {"sleep",
              [&](S a) { std::this_thread::sleep_for(std::chrono::milliseconds(std::stoi(a))); }},
             {"finish",
              [&](S a) {
                  ASSERT_TRUE(Finish(std::chrono::seconds(a.empty() ? 10 : std::stoi(a))));
              }},
             {"join", [&](S) { c->workerThread.join(); }},
             {"no-thread", [&](S) { EXPECT_FALSE(c->workerThread.joinable()); }},
             {"no-socket", [&](S) { EXPECT_EQ(c->mail.socket, -1); }},
             {"running", [&](S) { EXPECT_TRUE(c->workerRunning); }},
             {"busy", [&](S a) { taro->runtime.busy = std::stoi(a); }},
             {"busy-is", [&](S a) { EXPECT_EQ(taro->runtime.busy, std::stoi(a)); }},
             {"timed-out", [&](S) { c->lastActivity = Now() - workerTimeoutSeconds - 1; }},
             {"shutdown", [&](S) { shutdown(c->mail.socket, SHUT_RDWR); }},
             {"state", [&](S a) { c->state = StateNamed(a); }},
             {"closing", [&](S) { EXPECT_EQ(c->state, PageState::Closing); }},
             {"start-all", [&](S) { start_pop3_all_settings(*c); }},
             {"set-is", [&](S a) { EXPECT_EQ(c->settingsIndex, std::stoi(a)); }},
             {"delete-is", [&](S a) { EXPECT_EQ(c->deleteList, a); }},
             {"extra-finished", [&](S a) { EXPECT_TRUE(pop3_extra_finished(*c, std::stoi(a))); }}});
        mail_golden::Play(record, actions);
        c->parent = nullptr;
    }
}

TEST(Pop3Names, ValidityAndLiterals) {
    for (const auto& t : CASE_BLOCKS("pop3_names.ref"))
        EXPECT_EQ(pop3_name_valid(t.at(0).c_str()), t.at(1) == "1") << t[0];

    // None of these may reach the resolver.
    sockaddr_storage a;
    for (const char* bad : {"nosuch..invalid", "x.invalid", "[::1", "127.0.0.1 "})
        EXPECT_FALSE(pop3_resolve(bad, 110, a)) << bad;
}

// Which server names are checked against a certificate's address entries,
// and in what form.
TEST(MailTlsAddress, LiteralsLoseTheirBracketsNamesStayNames) {
    for (const auto& k : SERVER_CASES("address_literals.ref")) {
        char address[kAddressTextSize];
        const bool literal = mail_tls_address_literal(k.at(0).c_str(), address);
        EXPECT_EQ(literal ? address : "(name)", k.at(1)) << k[0];
    }
}

TEST(Pop3DeleteList, SplitBySettingsLetter) {
    for (const auto& t : CASE_BLOCKS("delete_lists.ref")) {
        char lists[kSettingsSets][kLineSize];
        pop3_split_delete_list(t.at(0).c_str(), std::stoi(t.at(1)), lists);
        for (int set = 0; set < 3; set++) EXPECT_EQ(lists[set], t.at(2 + set)) << t[0] << set;
    }
}

} // namespace
