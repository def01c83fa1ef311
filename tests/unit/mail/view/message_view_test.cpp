#include "mail/date/time_zone.h"
#include "mail/mail_golden.h"
#include "mail/pop3/pop3_client.h"
#include "mail/pop3/pop3_state.h"
#include "markup_audit.h"
#include "view_fixture.h"
#include <algorithm>

namespace {

std::string Head(const std::string& more = "") {
    return "From: Hanako <hanako@example.jp>\n"
           "To: taro@example.jp\n"
           "Subject: =?ISO-2022-JP?B?GyRCJCIkJBsoQg==?=\n"
           "Date: Tue, 03 Dec 2002 10:20:30 +0900\n"
           "Message-Id: <abc+1@example.jp>\n" +
           more;
}

class MessageViewTest : public ViewTest {
protected:
    void SetUp() override {
        ViewTest::SetUp();
        set_time_zone_bias_for_test(-540);
        data_store().settings.mail_options = kMailDeleteLinkChangeable;
    }
    void TearDown() override {
        set_time_zone_bias_for_test(0);
        ViewTest::TearDown();
    }
};

TEST_F(MessageViewTest, Pages) {
    static const std::pair<const char*, int> kOptions[] = {{"jump", jump_flag},
                                                           {"save-text", save_text},
                                                           {"header", header_flag},
                                                           {"folding", folding}};
    for (const auto& record : mail_golden::ReadCases(GOLDEN_PATH("pages.cases"))) {
        SCOPED_TRACE(record.at(0));
        Start(PageState::MessageWait);
        for (int o : {jump_flag, save_text, header_flag, folding}) taro->options[o] = 0;
        taro->address_book.clear();
        taro->set[0].quotation[0] = '\0';
        data_store().settings.mail_options = kMailDeleteLinkChangeable;
        std::string sent;
        using S = const std::string&;
        mail_golden::Play(
            record,
            {{"text-page", [&](S) { Start(PageState::TextWait); }},
             {"quotation",
              [&](S a) {
                  snprintf(taro->set[0].quotation, sizeof taro->set[0].quotation, "%s", a.c_str());
              }},
             {"book", [&](S a) { taro->address_book = a; }},
             {"mail-options", [&](S a) { data_store().settings.mail_options = std::stoi(a); }},
             {"option", [&](S a) { taro->options[ValueNamed(kOptions, a, "option", 0)] = 1; }},
             {"show-images",
              [&](S a) {
                  c->showImages = static_cast<uint8_t>(std::stoi(a));
                  c->view.remoteImages = 0;
              }},
             {"clear", [&](S) { out.clear(); }},
             {"retrieve", [&](S a) { sent = Retrieve(a); }},
             {"golden", [&](S a) { EXPECT_GOLDEN(a, MaskDates(out)); }},
             {"page", [&](S a) { EXPECT_NE(out.find(a), std::string::npos) << out; }},
             {"no-page", [&](S a) { EXPECT_EQ(out.find(a), std::string::npos) << out; }},
             {"audit", [&](S) { EXPECT_EQ(markup_audit::Audit(out), ""); }},
             {"sent", [&](S a) { EXPECT_EQ(sent, a); }},
             {"quitting", [&](S) { EXPECT_EQ(c->workerResult, Quitting); }},
             {"quoted", [&](S a) { EXPECT_EQ(c->quotationText, a); }},
             {"last-id", [&](S a) { EXPECT_EQ(taro->runtime.lastMessageId, a); }},
             {"references", [&](S a) { EXPECT_EQ(taro->runtime.replyReferences, a); }},
             {"remote-images", [&](S a) { EXPECT_EQ(c->view.remoteImages, std::stoi(a)); }},
             {"no-temp-files", [&](S) { EXPECT_EQ(TempFiles(), std::vector<std::string>{}); }},
             {"file", [&](S a) {
                  const size_t blank = a.find(' ');
                  EXPECT_EQ(golden::read(temp + "/" + a.substr(0, blank)), a.substr(blank + 1));
              }}});
    }
}

TEST_F(MessageViewTest, QuotationEndsInsideItsBufferOnACharacter) {
    snprintf(taro->set[0].quotation, sizeof taro->set[0].quotation, ">");
    std::string line = "a";
    for (int i = 0; i < 60; i++) line += "\x82\xa0";
    std::string body;
    for (int i = 0; i < 1100; i++) body += line + "\n";
    Retrieve(Head() + "\n" + body);
    const int n = c->view.quotationLength;
    EXPECT_GT(n, kQuotationTextSize - 130);
    EXPECT_LT(n, kQuotationTextSize);
    EXPECT_EQ(strlen(c->quotationText), static_cast<size_t>(n));
    int k = 0;
    while (k < n) k += static_cast<unsigned char>(c->quotationText[k]) >= 0x80 ? 2 : 1;
    EXPECT_EQ(k, n);
}

TEST_F(MessageViewTest, HostileFileNamesStayInTheUsersFolder) {
    for (const auto& t : mail_golden::ReadCases(GOLDEN_PATH("hostile_file_names.ref"))) {
        SCOPED_TRACE(t.at(0));
        Start(PageState::MessageWait);
        delete_user_files(taro);
        std::filesystem::remove_all(temp);
        Retrieve(Head("Content-Type: multipart/mixed; boundary=m\n") +
                 "\n--m\nContent-Type: application/octet-stream; name=\"" + t[0] +
                 "\"\n\ncontent\n--m--\n");
        ASSERT_EQ(TempFiles().size(), 1u);
        EXPECT_EQ(TempFiles()[0].substr(0, t.at(1).size()), t[1]);
        EXPECT_FALSE(std::filesystem::exists(home + "/x"));
        EXPECT_EQ(markup_audit::Audit(out), "");
    }
}

std::string PartialHead(int number, int total) {
    return "From: Hanako <hanako@example.jp>\r\nSubject: split\r\n"
           "Content-Type: message/partial; id=\"p1@example.jp\"; number=" +
           std::to_string(number) + (total ? "; total=" + std::to_string(total) : "") + "\r\n";
}

void Feed(Connection& c, const std::string& bytes) {
    pop3_feed(c, bytes.data(), bytes.size());
}

} // namespace

// With PIPELINING the search for a further part sends its TOP requests a
// window ahead, never past one beyond the last message (servers end a
// session after a few bad commands); once the part is found, the replies
// still out are read past and the RETR's reply is the one shown.
TEST_F(MessageViewTest, PipelinedSearchForAFurtherPart) {
    const std::string partOne = "+OK\r\n" + PartialHead(1, 0) +
                                "\r\nFrom: Hanako <hanako@example.jp>\r\n"
                                "Subject: whole\r\n\r\nFIRST-HALF\r\n.\r\n";
    const std::string capa = "+OK\r\nTOP\r\nPIPELINING\r\nUIDL\r\n.\r\n";
    Feed(*c, partOne);
    EXPECT_EQ(Sent(), "CAPA\r\n");
    Feed(*c, capa);
    EXPECT_EQ(Sent(), "STAT\r\n");
    Feed(*c, "+OK 90 12345\r\n");
    std::string sent = Sent();
    EXPECT_EQ(sent.rfind("TOP 1 0\r\nTOP 2 0\r\nTOP 4 0\r\n", 0), 0u) << sent;
    EXPECT_EQ(sent.find("TOP 3 0"), std::string::npos);
    const int ahead = static_cast<int>(std::count(sent.begin(), sent.end(), '\n'));
    EXPECT_EQ(ahead, kPipelineWindow + 1);
    Feed(*c, "+OK\r\nSubject: other\r\n.\r\n");
    Feed(*c, "+OK\r\n" + PartialHead(2, 2) + ".\r\n"); // message 2 is the part
    sent = Sent();
    EXPECT_EQ(sent.substr(sent.size() - 8), "RETR 2\r\n") << sent;
    for (int k = 2; k < ahead; k++)
        Feed(*c, k % 2 ? "-ERR no such message\r\n" : "+OK\r\nSubject: x\r\n.\r\n");
    Feed(*c, "+OK\r\n" + PartialHead(2, 2) + "\r\nSECOND-HALF\r\n.\r\n");
    EXPECT_GOLDEN("pipelined_part.ref", MaskDates(out));

    // A small mailbox: one request past its end, whose -ERR ends the search
    // as the one-at-a-time exchange ends it.
    Start(PageState::MessageWait);
    Feed(*c, partOne);
    Feed(*c, capa);
    Sent();
    Feed(*c, "+OK 4 900\r\n");
    EXPECT_EQ(Sent(), "TOP 1 0\r\nTOP 2 0\r\nTOP 4 0\r\nTOP 5 0\r\n");
}
