#include "mail/mail_golden.h"
#include "mail/sent/sent_fixture.h"
#include "server/output/output_text.h"
#include "server/text/url_encode.h"

namespace {

class SentPages : public SentTest {
protected:
    void DeleteLinkOption(bool on) {
        data_store().settings.mail_options |= kMailDeleteLinkChangeable;
        taro->options[delete_link] = on;
    }
    // The page with the send dates (plain and in links) and the list time
    // masked.
    std::string Masked(std::string page, const std::vector<std::string>& dates) {
        for (const std::string& date : dates) {
            char encoded[128];
            UrlEncode(encoded, date.c_str());
            page = mail_golden::Replaced(mail_golden::Replaced(page, date, "<date>"), encoded,
                                         "<date>");
        }
        return mail_golden::MaskListTime(MaskDates(page));
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
    c->state = PageState::SentListPage;
    Dispatcher(*c);
    // Entry 1: nine lines, 135 bytes with two per line end; entry 2 has no
    // X-Files line, a subject two bytes and a To three bytes shorter: 114.
    EXPECT_NEAR(taro->runtime.listTime.load(), Now(), 2);
    EXPECT_NE(out.find("value=\"" + std::to_string(taro->runtime.listTime.load()) + "\" name="),
              std::string::npos);
    EXPECT_GOLDEN("list_rows.ref", Masked(out, {d1, d2}));
}

TEST_F(SentPages, DeletingEverythingShowsTheEmptyList) {
    SendNumbered(2);
    ConnectionPtr c = Taro();
    snprintf(c->deleteList, sizeof c->deleteList, "1,2,");
    SentDelete(*c);
    EXPECT_FALSE(Exists(".txl"));
    EXPECT_TRUE(Exists(".txb"));
    EXPECT_GOLDEN("empty_list.ref", MaskDates(out));
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
    Route(*stale, "/mail/sent/index.html?delete=2.1999%2F01%2F01" + kQ + " HTTP/1.0");
    SentDelete(*stale);
    EXPECT_EQ(Subjects(), "S1 Hello S1 ");
    // The date text compares over its own length.
    ConnectionPtr current = Taro();
    Route(*current, std::string("/mail/sent/index.html?delete=2.") + encoded + kQ + " HTTP/1.0");
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
    ShowSentMessage(*c);
    // The form shows To, Subject and the text; Cc, Bcc and the files are
    // taken too, for the send.
    EXPECT_EQ(std::string(c->send.sendCc) + "|" + c->send.sendBcc + "|" +
                  std::to_string(c->uploadCount) + c->uploadNames[0],
              "c@example.jp|b@example.jp|1a&b.txt");
    EXPECT_GOLDEN("message_page.ref", Masked(out, {date}));
}

TEST_F(SentPages, LinkRowWithoutDeleteLink) {
    DeleteLinkOption(false);
    ConnectionPtr c = Taro();
    c->itemNumber = 3;
    SentLinkRow(*c);
    EXPECT_EQ(out,
              "<a href=\"/mail/sent/index.html" + kQ + "\">Go to the list of mail sent</a><hr>");
}

TEST_F(SentPages, MessagePageWithoutLogIsEmpty) {
    ConnectionPtr c = Taro();
    c->itemNumber = 1;
    ShowSentMessage(*c);
    EXPECT_EQ(out, "");
}

} // namespace
