// Message pages driven by hand: reply lines are handed to the view as the
// POP3 client hands them over, commands come back through a socket pair, and
// the page is captured.
#pragma once
#include "mail/list/received_list.h"
#include "mail/mail_fixture.h"
#include "mail/mime/mime_parser.h"
#include "mail/pop3/pop3_client.h"
#include "mail/view/message_view.h"
#include <sstream>
#include <vector>

class ViewTest : public MailTest {
protected:
    void SetUp() override {
        MailTest::SetUp();
        temp = home + "/temp/taro";
        Start(PageState::MessageWait);
    }
    // A new request for message 3, as the POP3 client leaves it right after
    // sending RETR.
    void Start(PageState state) {
        Fresh();
        c->state = state;
        c->workerResult = Retrieving;
        c->pop3.headerPhase = 1;
        c->itemNumber = 3;
        c->browser = kBrowserMozilla2 | kBrowserMozilla3 | kBrowserMozilla4 | kBrowserMozilla5;
        c->view.partFileSlot = -1;
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
    // Names of the files in the user's temp folder, sorted.
    std::vector<std::string> TempFiles() {
        std::vector<std::string> names;
        if (!std::filesystem::exists(temp)) return names;
        for (auto& e : std::filesystem::directory_iterator(temp))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    std::string temp;
};
