// Message pages driven by hand: reply lines are handed to the view as the
// POP3 client hands them over, commands come back through a socket pair, and
// the page is captured.
#pragma once
#include "mail/list/received_list.h"
#include "mail/mime/mime_parser.h"
#include "mail/pop3/pop3_client.h"
#include "mail/view/message_view.h"
#include "server/route/page_fixture.h"
#include <fcntl.h>
#include <sstream>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

const std::string kViewQuery = "?user=taro?check=5?lang=eng";

class ViewTest : public PageTest {
protected:
    void SetUp() override {
        PageTest::SetUp();
        taro = LoggedIn("taro");
        temp = home + "/temp/taro";
        Start(PageState::MessageWait);
    }
    void TearDown() override {
        Stop();
        PageTest::TearDown();
    }
    void Stop() {
        if (c && c->file >= 0) close(c->file);
        if (c && c->mailSocket >= 0) close(c->mailSocket);
        c.reset();
        if (peer >= 0) close(peer);
        peer = -1;
    }
    // A new request for message 3, as the POP3 client leaves it right after
    // sending RETR.
    void Start(PageState state) {
        Stop();
        out.clear();
        c = Capture();
        int ends[2];
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, ends), 0);
        fcntl(ends[1], F_SETFL, O_NONBLOCK);
        c->mailSocket = ends[0];
        peer = ends[1];
        c->user = taro;
        c->route = Route::Mail;
        c->state = state;
        c->workerResult = Retrieving;
        c->pop3.headerPhase = 1;
        c->itemNumber = 3;
        c->settingsIndex = 0;
        c->browser = kBrowserMozilla2 | kBrowserMozilla3 | kBrowserMozilla4 | kBrowserMozilla5;
        c->view.partFileSlot = -1;
        snprintf(c->userName, sizeof c->userName, "taro");
        snprintf(c->loginQuery, sizeof c->loginQuery, "%s", kViewQuery.c_str());
        mime_reset(*c);
    }
    // One reply line, dispatched the way the POP3 client does it.
    void Line(const std::string& line) {
        if (c->pop3.headerPhase) {
            if (line.rfind("+OK", 0) != 0) pop3_view_asks(*c, view_header_line(*c, line.c_str()));
        } else {
            pop3_view_asks(*c, view_body_line(*c, line.c_str()));
        }
    }
    // A whole reply: its lines dot-stuffed, then the closing ".".
    void Reply(const std::string& text) {
        std::istringstream in(text);
        for (std::string line; std::getline(in, line);) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            Line(line[0] == '.' ? "." + line : line);
        }
        Line(".");
    }
    // The message as the reply to RETR; returns the commands sent after it.
    std::string Retrieve(const std::string& message) {
        Reply(message);
        return Sent();
    }
    std::string Sent() {
        std::string all;
        char buf[4096];
        for (ssize_t n; (n = read(peer, buf, sizeof buf)) > 0;)
            all.append(buf, static_cast<size_t>(n));
        return all;
    }
    std::string ReadFile(const std::string& path) {
        std::ifstream f(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(f), {});
    }
    // Names of the files in the user's temp folder, sorted.
    std::vector<std::string> TempFiles() {
        std::vector<std::string> names;
        if (!std::filesystem::exists(temp)) return names;
        for (auto& e : std::filesystem::directory_iterator(temp))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    UserRecord* taro = nullptr;
    ConnectionPtr c;
    int peer = -1;
    std::string temp;
};
