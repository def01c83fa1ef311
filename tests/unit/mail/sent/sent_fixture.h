// A gateway home with user taro logged in, and helpers that log mail the way
// the SMTP worker leaves it in the connection.
#pragma once
#include "mail/mail_fixture.h"
#include "mail/sent/sent_log.h"
#include "mail/sent/sent_pages.h"
#include "server_golden.h"

#include <vector>

struct SentMail {
    std::string subject = "Hello";
    std::string text = "line one\r\nline two\r\n";
    std::string to = "jiro@example.jp";
    std::string cc, bcc;
    std::vector<std::string> files;
};

class SentTest : public PageTest {
protected:
    void SetUp() override {
        PageTest::SetUp();
        taro = LoggedIn("taro");
    }
    ConnectionPtr Taro() {
        ConnectionPtr c = Capture();
        c->user = taro;
        c->route = Route::Sent;
        snprintf(c->userName, sizeof c->userName, "taro");
        snprintf(c->loginQuery, sizeof c->loginQuery, "%s", kQ.c_str());
        return c;
    }
    static void Fill(Connection& c, const SentMail& m) {
        OutgoingMail& s = c.send;
        snprintf(s.sendTo, sizeof s.sendTo, "%s", m.to.c_str());
        snprintf(s.sendCc, sizeof s.sendCc, "%s", m.cc.c_str());
        snprintf(s.sendBcc, sizeof s.sendBcc, "%s", m.bcc.c_str());
        snprintf(s.toLine, sizeof s.toLine, "To: %s\r\n", m.to.c_str());
        snprintf(s.ccLine, sizeof s.ccLine, "Cc: %s\r\n", m.cc.c_str());
        snprintf(s.bccLine, sizeof s.bccLine, "Bcc: %s\r\n", m.bcc.c_str());
        snprintf(s.subjectLine, sizeof s.subjectLine, "Subject: %s\r\n", m.subject.c_str());
        snprintf(s.fromLine, sizeof s.fromLine, "From: Taro <taro@example.jp>\r\n");
        snprintf(c.messageText, sizeof c.messageText, "%s", m.text.c_str());
        c.uploadCount = static_cast<int16_t>(m.files.size());
        for (size_t i = 0; i < m.files.size(); i++)
            snprintf(c.uploadNames[i], sizeof c.uploadNames[i], "%s", m.files[i].c_str());
    }
    // Logs m; returns the date text of its entry.
    std::string Send(const SentMail& m) {
        ConnectionPtr c = Taro();
        Fill(*c, m);
        AppendSentLog(*c);
        return c->send.dateLine;
    }
    void SendNumbered(int count) {
        for (int i = 1; i <= count; i++) {
            SentMail m;
            m.subject = "S" + std::to_string(i);
            Send(m);
        }
    }
    std::string File(const char* extension) {
        return golden::read(home + "/user/taro" + extension);
    }
    bool Exists(const char* extension) {
        return std::filesystem::exists(home + "/user/taro" + extension);
    }
    // The subjects of the log's entries in order.
    std::string Subjects() {
        std::string log = File(".txl"), out;
        // A rewritten log ends every line in LF alone.
        for (size_t at = 0; (at = log.find("Subject: ", at)) != std::string::npos; at += 9) {
            std::string subject = log.substr(at + 9, log.find('\n', at) - at - 9);
            if (!subject.empty() && subject.back() == '\r') subject.pop_back();
            out += subject + " ";
        }
        return out;
    }

    UserRecord* taro = nullptr;
};
