#include "mail/date/time_zone.h"
#include "mail/mail_golden.h"
#include "mail/pop3/pop3_client.h"
#include "mail/pop3/pop3_state.h"
#include "markup_audit.h"
#include "view_fixture.h"
#include <algorithm>

namespace {

// ISO-2022-JP of "こんにちは".
const std::string kJisHello = "\x1b$B$3$s$K$A$O\x1b(B";

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

TEST_F(MessageViewTest, PlainJapaneseTextPage) {
    snprintf(taro->set[0].quotation, sizeof taro->set[0].quotation, ">");
    const std::string commands = Retrieve(Head("Content-Type: text/plain; charset=ISO-2022-JP\n") +
                                          "\n" + kJisHello + "\n.dot & <b>\n");
    EXPECT_GOLDEN(MaskDates(out), "plain_japanese.ref");
    EXPECT_EQ(commands, "QUIT\r\n");
    EXPECT_EQ(c->workerResult, Quitting);
    EXPECT_EQ(std::string(c->quotationText), kJisHello + "\r\n.dot & <b>\r\n");
    EXPECT_STREQ(taro->runtime.lastMessageId, "<abc+1@example.jp>");
    EXPECT_EQ(markup_audit::Audit(out), "");
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

TEST_F(MessageViewTest, KnownSenderGetsNoAddLink) {
    taro->address_book = "Hanako <hanako@example.jp>";
    Retrieve(Head() + "\nhi\n");
    EXPECT_EQ(out.find("Add sender"), std::string::npos);
}

TEST_F(MessageViewTest, TitleCannotCarryMarkup) {
    Retrieve("Subject: </title><script>alert(1)</script>\n\nbody\n");
    EXPECT_NE(out.find("<title>3. &lt;/title&gt;&lt;script&gt;"), std::string::npos) << out;
    EXPECT_EQ(markup_audit::Audit(out), "");
}

TEST_F(MessageViewTest, BrokenTwoByteRunDoesNotCutTheSubject) {
    // The pair '"' 0x82 converts to a lead byte and a NUL.
    Retrieve("Subject: a \x1b$B\"\x82\x1b(B tail\n\nbody\n");
    EXPECT_NE(out.find("Subject: a \x81 tail"), std::string::npos) << out;
}

TEST_F(MessageViewTest, AlternativeShowsOnlyTheCleanedHtml) {
    Retrieve(Head("MIME-Version: 1.0\nContent-Type: multipart/alternative; boundary=\"b1\"\n") +
             "\n--b1\nContent-Type: text/plain\n\nplain version\n"
             "--b1\nContent-Type: text/html\n\n<p onclick=\"x()\">never</p>\n--b1--\n");
    EXPECT_EQ(out.find("plain version"), std::string::npos);
    EXPECT_GOLDEN(MaskDates(out), "alternative.ref");
    EXPECT_EQ(markup_audit::Audit(out), "");
    EXPECT_EQ(TempFiles(), std::vector<std::string>{}); // the HTML file is gone
}

// Pictures from the web stay out until the user asks; the policy header
// blocks them, the page offers the address that lets them in.
TEST_F(MessageViewTest, PicturesFromTheWebWaitForTheUser) {
    const std::string html = Head("Content-Type: text/html\n") +
                             "\n<p style=\"background:url(https://t.example/b.png)\">x"
                             "<img src=\"http://t.example/p.gif\"></p>\n";
    Retrieve(html);
    EXPECT_EQ(c->view.remoteImages, 2);
    EXPECT_NE(out.find("<a href=\"/mail/a0003.html" + std::string(c->loginQuery) +
                       "?images\">Show the pictures from the web"),
              std::string::npos)
        << out;
    out.clear();
    c->showImages = 1;
    c->view.remoteImages = 0;
    Retrieve(html);
    EXPECT_EQ(out.find("?images"), std::string::npos);
    out.clear();
    c->showImages = 0;
    c->view.remoteImages = 0;
    Retrieve(Head("Content-Type: text/html\n") + "\n<img src=\"cid:p1\"><p>no web</p>\n");
    EXPECT_EQ(out.find("?images"), std::string::npos);
}

TEST_F(MessageViewTest, UnreferencedContentIdIsStillOffered) {
    Retrieve(Head("Content-Type: multipart/mixed; boundary=m\n") +
             "\n--m\n\nsee attached\n--m\nContent-Type: application/pdf; name=\"a.pdf\"\n"
             "Content-ID: <part2@mac>\n\n%PDF\n--m--\n");
    EXPECT_NE(out.find("<a href=\"/mail/~taro/a.pdf\">a.pdf</a>"), std::string::npos) << out;
}

TEST_F(MessageViewTest, HostileFileNamesStayInTheUsersFolder) {
    for (const auto& t : mail_golden::ReadCases(MAIL_GOLDEN("hostile_file_names.ref"))) {
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

TEST_F(MessageViewTest, LinksFollowTheOptions) {
    data_store().settings.mail_options = 0; // delete link fixed on
    taro->options[jump_flag] = 1;
    taro->options[save_text] = 1;
    taro->options[header_flag] = 1;
    Retrieve(Head() + "\nbody\n");
    EXPECT_GOLDEN(MaskDates(out), "links_options.ref");
}

TEST_F(MessageViewTest, ReplyReferencesMakeRoomForTheMessageId) {
    const std::string old(280, 'r');
    Retrieve(Head("References: <" + old + "> <second@x>\n") + "\nbody\n");
    EXPECT_STREQ(taro->runtime.replyReferences, "<second@x> <abc+1@example.jp>");
}

TEST_F(MessageViewTest, FoldingWritesBreaks) {
    taro->options[folding] = 1;
    // The second line leaves its two-byte run open: the break after it must
    // not be read as kanji.
    Retrieve(Head() + "\none\n\x1b$B$3\ntwo\n");
    EXPECT_GOLDEN(MaskDates(out), "folding.ref");
}

TEST_F(MessageViewTest, TextDownloadBytes) {
    Start(PageState::TextWait);
    taro->options[save_text] = 1;
    const std::string commands =
        Retrieve(Head("Content-Type: multipart/mixed; boundary=m\n") + "\n--m\n\n" + kJisHello +
                 "\n<b>&\n--m\nContent-Type: application/zip; name=\"z.zip\"\n\nPK\n--m--\n");
    EXPECT_GOLDEN(MaskDates(out), "text_download.ref");
    EXPECT_EQ(commands, "QUIT\r\n");
    EXPECT_EQ(ReadFile(temp + "/z.zip"), "PK\r\n");
}

// Mailers write the extension rows of the Windows code page (circled
// numbers, ㈱, 髙, 﨑) inside text labelled ISO-2022-JP.
TEST_F(MessageViewTest, ExtensionRowsOfTheWindowsCodePageShow) {
    Retrieve("From: a@b.c\nSubject: =?ISO-2022-JP?B?GyRCLWo7M3l1OSk2SBsoQg==?=\n"
             "Content-Type: text/plain; charset=ISO-2022-JP\n"
             "Content-Transfer-Encoding: base64\n\nGyRCLWo7M3l1OSk2SBsoQg==\n");
    EXPECT_GOLDEN(MaskDates(out), "extension_rows.ref"); // ㈱山﨑工業 in subject and text
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
    EXPECT_GOLDEN(MaskDates(out), "pipelined_part.ref");

    // A small mailbox: one request past its end, whose -ERR ends the search
    // as the one-at-a-time exchange ends it.
    Start(PageState::MessageWait);
    Feed(*c, partOne);
    Feed(*c, capa);
    Sent();
    Feed(*c, "+OK 4 900\r\n");
    EXPECT_EQ(Sent(), "TOP 1 0\r\nTOP 2 0\r\nTOP 4 0\r\nTOP 5 0\r\n");
}
