// A list exchange driven by hand: the POP3 replies are fed to the list
// handlers as the client would, the commands the list sends are read from the
// other end of a socket pair, and the page is captured.
#pragma once
#include "mail/date/time_zone.h"
#include "mail/list/received_list.h"
#include "mail/mime/mime_state.h"
#include "server/route/page_fixture.h"
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>
#include <vector>

// One message on the test server.
struct TestMail {
    int size;
    const char* subject;
    const char* date;
    const char* from;
    const char* messageId;
    uint16_t contentClass;
};

// The login query of the pages of user taro (check number 5), in English.
inline constexpr const char* kQuery = "?user=taro?check=5?lang=eng";

class ListTest : public PageTest {
protected:
    void SetUp() override {
        PageTest::SetUp();
        set_time_zone_bias_for_test(-540);
        taro = LoggedIn("taro");
        NewVisit();
    }
    void TearDown() override {
        for (int set = 0; set < kSettingsSets; set++) free_kept_list(taro, set);
        CloseVisit();
        set_time_zone_bias_for_test(0);
        PageTest::TearDown();
    }

    // A fresh browser request (and POP3 connection) for the same user.
    void NewVisit(int set = 0) {
        CloseVisit();
        out.clear();
        c = Capture();
        c->user = taro;
        c->route = Route::Mail;
        c->state = PageState::ListWait;
        c->settingsIndex = static_cast<int16_t>(set);
        snprintf(c->userName, sizeof c->userName, "taro");
        snprintf(c->loginQuery, sizeof c->loginQuery, "%s", kQuery);
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, server), 0);
        fcntl(server[1], F_SETFL, O_NONBLOCK);
        c->mailSocket = server[0];
    }
    void CloseVisit() {
        c.reset();
        for (int& fd : server)
            if (fd >= 0) close(fd), fd = -1;
    }

    // The commands sent since the last call.
    std::string Sent() {
        std::string all;
        char buf[4096];
        for (ssize_t n; (n = read(server[1], buf, sizeof buf)) > 0;) all.append(buf, n);
        return all;
    }

    // The server's STAT reply has been read.
    void Stat(int count) {
        c->pop3.statCount = static_cast<uint16_t>(count);
        c->workerResult = StatSent;
        list_after_stat(*c);
    }
    // The LIST reply: each message number with its size, then ".".
    void List(const std::vector<std::pair<int, int>>& lines) {
        for (auto [number, size] : lines) {
            std::string line = std::to_string(number) + " " + std::to_string(size);
            list_line(*c, line.c_str());
        }
        list_line(*c, ".");
    }
    // A TOP reply as the MIME parser leaves it.
    void Top(const TestMail& m) {
        MimeState& h = c->mime;
        snprintf(h.subjectLine, sizeof h.subjectLine, "%s", m.subject);
        snprintf(h.dateLine, sizeof h.dateLine, "%s", m.date);
        snprintf(h.fromLine, sizeof h.fromLine, "%s", m.from);
        snprintf(h.messageId, sizeof h.messageId, "%s", m.messageId);
        h.contentClass = m.contentClass;
        list_headers_done(*c);
    }
    // A whole exchange against a server holding mails, answering every TOP.
    // Returns the commands sent after STAT.
    std::string Exchange(const std::vector<TestMail>& mails) {
        Stat(static_cast<int>(mails.size()));
        std::string sent = Sent();
        if (c->workerResult == ListingFull || c->workerResult == ListingUpdate) {
            std::vector<std::pair<int, int>> lines;
            for (size_t i = 0; i < mails.size(); i++)
                lines.emplace_back(static_cast<int>(i + 1), mails[i].size);
            List(lines);
            sent += Answer(mails);
        }
        return sent;
    }
    // Answers TOP commands until the list sends something else.
    std::string Answer(const std::vector<TestMail>& mails) {
        std::string sent;
        for (std::string s; (s = Sent()).size();) {
            sent += s;
            int number = 0;
            if (sscanf(s.c_str(), "TOP %d 0", &number) != 1) break;
            EXPECT_EQ(c->workerResult, FetchingHeaders);
            Top(mails.at(number - 1));
        }
        return sent;
    }

    // The page after the "Mail Address" line of the heading.
    std::string Rows() const {
        const std::string mark = "Mail Address taro@example.jp\r\n";
        size_t at = out.find(mark);
        return at == std::string::npos ? "<no heading>" : out.substr(at + mark.size());
    }

    UserRecord* taro = nullptr;
    ConnectionPtr c;
    int server[2] = {-1, -1};
};
