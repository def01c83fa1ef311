#include "mail/sent/sent_fixture.h"
#include "server/output/output_text.h"
#include "server/text/url_encode.h"

namespace {

const std::string kCompose = "<hr><a href=\"/mail/write/index.html" + kSentQuery +
                             "\">Write Mail</a>    <a href=\"/mail/logout/index.html" + kSentQuery +
                             "\">Finish Reading/Writing</a>";
const std::string kListHead = StatusBlock(200) +
                              "<html><head><title>taro's list of mail sent</title>" + kHeadLines +
                              "</head><body>" + LangSwitch(true, "/") +
                              "<center><font size=+1>taro's list of mail sent</font>" + kCompose;
const std::string kListEnd =
    "<pre>" + kCompose + "<hr><a href=\"/mail/setup/index.html" + kSentQuery +
    "\">Change Settings</a>    <a href=\"/mail/book/index.html" + kSentQuery +
    "\">Address Book</a>    <a href=\"/mail/index.html" + kSentQuery +
    "\">Go to the list of mail received</a></pre></center></body></html>";

class SentPages : public SentTest {
protected:
    void TearDown() override {
        SentResendForm = nullptr;
        SentTest::TearDown();
    }
    void DeleteLinkOption(bool on) {
        data_store().settings.mail_options |= kMailDeleteLinkChangeable;
        taro->options[delete_link] = on;
    }
    std::string LinkRow(int n, const std::string& date) {
        char encoded[128];
        UrlEncode(encoded, date.c_str());
        return "<a href=\"/mail/sent/index.html" + kSentQuery +
               "\">Go to the list of mail sent</a>      <a href=\"/mail/sent/index.html?delete=" +
               std::to_string(n) + "." + encoded + kSentQuery +
               "\">Go back to the list after deleting</a><hr>";
    }
};

TEST_F(SentPages, ListRows) {
    SentMail a;
    a.files = {"a.txt"};
    const std::string d1 = Send(a);
    SentMail b;
    b.subject = "a<b";
    b.to = "x&y <x@y.jp>";
    const std::string d2 = Send(b);
    ConnectionPtr c = Taro();
    install_sent_pages();
    c->state = PageState::SentListPage;
    Dispatcher(*c);
    // Entry 1: nine lines, 135 bytes with two per line end; entry 2 has no
    // X-Files line, a subject two bytes and a To three bytes shorter.
    const std::string rows =
        "<font size=+1><input type=checkbox name=\"delete_1\"><a href=\"/mail/sent/0001.html" +
        kSentQuery + "\">0001. Hello</a></font>\r\n  (File)  " + d1 +
        "  (   135)  jiro@example.jp\r\n\r\n"
        "<font size=+1><input type=checkbox name=\"delete_2\"><a href=\"/mail/sent/0002.html" +
        kSentQuery + "\">0002. a&lt;b</a></font>\r\n          " + d2 +
        "  (   114)  x&amp;y &lt;x@y.jp&gt;\r\n\r\n";
    EXPECT_EQ(MaskDates(out),
              kListHead + "<hr></center><form method=\"post\" action=\"/mail/sent/index.html" +
                  kSentQuery + "\"><pre>" + rows + "<input type=\"hidden\" value=\"" +
                  std::to_string(taro->runtime.listTime.load()) +
                  "\" name=\"list_time\"><input type=\"submit\" value=\"Delete Marked Mail\">  "
                  "<input type=\"reset\" value=\"Return Markings to the previous "
                  "settings\"></pre></form><center>" +
                  kListEnd);
    EXPECT_NEAR(taro->runtime.listTime.load(), Now(), 2);
}

TEST_F(SentPages, DeletingEverythingShowsTheEmptyList) {
    SendNumbered(2);
    ConnectionPtr c = Taro();
    snprintf(c->deleteList, sizeof c->deleteList, "1,2,");
    SentDelete(*c);
    EXPECT_FALSE(Exists(".txl"));
    EXPECT_TRUE(Exists(".txb"));
    EXPECT_EQ(MaskDates(out), kListHead +
                                  "<hr><center>\r\n<font size=+1>There are no messages in this "
                                  "folder.\r\n</font>\r\n" +
                                  kListEnd);
    SendNumbered(1); // the next append starts a new log
    EXPECT_EQ(Subjects(), "S1 ");
}

TEST_F(SentPages, DeleteLinkNeedsTheEntrysDate) {
    SendNumbered(1);
    const std::string date = Send(SentMail{});
    SendNumbered(1);
    char encoded[128];
    UrlEncode(encoded, date.substr(0, 10).c_str());
    ConnectionPtr stale = Taro();
    Route(*stale, "/mail/sent/index.html?delete=2.1999%2F01%2F01" + kSentQuery + " HTTP/1.0");
    SentDelete(*stale);
    EXPECT_EQ(Subjects(), "S1 Hello S1 ");
    // The date text compares over its own length.
    ConnectionPtr current = Taro();
    Route(*current,
          std::string("/mail/sent/index.html?delete=2.") + encoded + kSentQuery + " HTTP/1.0");
    SentDelete(*current);
    EXPECT_EQ(Subjects(), "S1 S1 ");
}

TEST_F(SentPages, MessagePageAndResendValues) {
    DeleteLinkOption(true);
    SentMail m;
    m.text = ".\r\nx\r\n\r\n";
    m.cc = "c@example.jp";
    m.bcc = "b@example.jp";
    m.files = {"a&b.txt"};
    SendNumbered(1);
    const std::string date = Send(m);
    ConnectionPtr c = Taro();
    c->itemNumber = 2;
    static std::string seen;
    SentResendForm = [](Connection& c) {
        seen = std::string(c.send.sendTo) + "|" + c.send.sendCc + "|" + c.send.sendBcc + "|" +
               c.send.sendSubject + "|" + c.messageText + "|" + std::to_string(c.uploadCount) +
               c.uploadNames[0];
        OutputText(c, "[form]", 0);
    };
    ShowSentMessage(*c);
    EXPECT_EQ(seen, "jiro@example.jp|c@example.jp|b@example.jp|Hello|.\nx|1a&b.txt");
    EXPECT_EQ(MaskDates(out), StatusBlock(200) + "<html><head><title>2. Hello\r\n\r\n</title>" +
                                  kHeadLines + "</head><body>" + LangSwitch(true, "/") +
                                  "<pre><center>" + LinkRow(2, date) +
                                  "</center><font size=+1>Subject: Hello\r\n</font>Date: " + date +
                                  "\r\nFrom: Taro &lt;taro@example.jp&gt;\r\nTo: jiro@example.jp"
                                  "\r\nCc: c@example.jp\r\nBcc: b@example.jp<hr>.\nx<hr>"
                                  "Attached File Name: a&amp;b.txt\r\n<hr>[form]<pre><center><hr>" +
                                  LinkRow(2, date) + "</pre></center></body></html>");
}

TEST_F(SentPages, LinkRowWithoutDeleteLink) {
    DeleteLinkOption(false);
    ConnectionPtr c = Taro();
    c->itemNumber = 3;
    SentLinkRow(*c);
    EXPECT_EQ(out, "<a href=\"/mail/sent/index.html" + kSentQuery +
                       "\">Go to the list of mail sent</a><hr>");
}

TEST_F(SentPages, MessagePageWithoutLogIsEmpty) {
    ConnectionPtr c = Taro();
    c->itemNumber = 1;
    ShowSentMessage(*c);
    EXPECT_EQ(out, "");
}

} // namespace
