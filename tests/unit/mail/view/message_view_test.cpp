#include "mail/charset/base64.h"
#include "mail/date/time_zone.h"
#include "markup_audit.h"
#include "view_fixture.h"

namespace {

// ISO-2022-JP of "こんにちは" and "あい", and their Shift_JIS forms.
const std::string kJisHello = "\x1b$B$3$s$K$A$O\x1b(B";
const std::string kSjisHello = "\x82\xb1\x82\xf1\x82\xc9\x82\xbf\x82\xcd";
const std::string kSjisAi = "\x82\xa0\x82\xa2";

std::string Head(const std::string& more = "") {
    return "From: Hanako <hanako@example.jp>\n"
           "To: taro@example.jp\n"
           "Subject: =?ISO-2022-JP?B?GyRCJCIkJBsoQg==?=\n"
           "Date: Tue, 03 Dec 2002 10:20:30 +0900\n"
           "Message-Id: <abc+1@example.jp>\n" +
           more;
}

// Each piece must occur, in this order, each after the one before.
void ExpectInOrder(const std::string& page, const std::vector<std::string>& pieces) {
    size_t at = 0;
    for (const std::string& piece : pieces) {
        size_t found = page.find(piece, at);
        ASSERT_NE(found, std::string::npos) << "missing after " << at << ": " << piece << "\n"
                                            << page;
        at = found + piece.size();
    }
}

size_t Count(const std::string& page, const std::string& piece) {
    size_t n = 0;
    for (size_t at = page.find(piece); at != std::string::npos; at = page.find(piece, at + 1)) n++;
    return n;
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
    std::string Link(const std::string& name) {
        return "<a href=\"/mail/~taro/" + name + "\">" + name + "</a>";
    }
};

TEST_F(MessageViewTest, PlainJapaneseTextPage) {
    snprintf(taro->set[0].quotation, sizeof taro->set[0].quotation, ">");
    const std::string commands = Retrieve(Head("Content-Type: text/plain; charset=ISO-2022-JP\n") +
                                          "\n" + kJisHello + "\n.dot & <b>\n");
    ExpectInOrder(
        out, {"<html><head><title>3. " + kSjisAi + "\r\n\r\n</title></head>", "<body><pre><center>",
              "<a href=\"/mail/index.html" + kViewQuery + "\">Go back to the list</a><hr>",
              "</center><font size=+1>Subject: " + kSjisAi + "\r\n</font>",
              "Date: 2002/12/03 10:20:30\r\n", "From: Hanako &lt;", "&gt;",
              "<a href=\"/mail/book/index.html?back=a0003?add=Hanako%20%3Chanako%40"
              "example.jp%3E" +
                  kViewQuery + "\">Add sender name to the address list</a><hr>",
              kSjisHello + "\r\n.dot &amp; &lt;b&gt;\r\n", "<hr><pre><hr>",
              "Go back to the list</a><hr></pre></center>"});
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

TEST_F(MessageViewTest, AlternativeShowsOnlyTheCleanedHtml) {
    Retrieve(Head("MIME-Version: 1.0\nContent-Type: multipart/alternative; boundary=\"b1\"\n") +
             "\n--b1\nContent-Type: text/plain\n\nplain version\n"
             "--b1\nContent-Type: text/html\n\n<p onclick=\"x()\">never</p>\n--b1--\n");
    EXPECT_EQ(out.find("plain version"), std::string::npos);
    ExpectInOrder(out, {"</pre>", "&lt;p onclick=\"x()\"&gt;never", "<pre>"});
    EXPECT_EQ(markup_audit::Audit(out), "");
    EXPECT_EQ(TempFiles(), std::vector<std::string>{}); // the HTML file is gone
}

TEST_F(MessageViewTest, HtmlScriptShownAsSourceFromThatTag) {
    Retrieve(Head("Content-Type: text/html\n") +
             "\n<b>bold</b>\n<script>alert(1)</script>\n<i>after</i>\n");
    ExpectInOrder(
        out, {"<b>bold</b>", "&lt;script&gt;alert(1)&lt;/script&gt;", "&lt;i&gt;after&lt;/i&gt;"});
    EXPECT_EQ(markup_audit::Audit(out), "");
}

TEST_F(MessageViewTest, CidImageAppearsAtTheHtmlPositionOnly) {
    Retrieve(Head("Content-Type: multipart/related; boundary=r\n") +
             "\n--r\nContent-Type: text/html\n\n<p>see <img src=\"cid:pic1@x\"></p>\n"
             "--r\nContent-Type: image/gif; name=\"pic.gif\"\nContent-ID: <pic1@x>\n"
             "Content-Transfer-Encoding: base64\n\nR0lGODlhAQABAAAAACw=\n--r--\n");
    ExpectInOrder(out, {"<p>see <img src=\"/mail/~taro/pic1@x\""});
    EXPECT_EQ(Count(out, "/mail/~taro/"), 1u) << out;
    EXPECT_EQ(ReadFile(temp + "/pic.gif"), std::string("GIF89a\x01\x00\x01\x00\x00\x00\x00,", 14));
    // The URL finds the part through its Content-ID.
    ConnectionPtr get = Capture();
    Route(*get, "/mail/~taro/pic1@x HTTP/1.0");
    EXPECT_EQ(get->route, ::Route::Attachment);
    EXPECT_EQ(get->itemNumber, 0);
}

TEST_F(MessageViewTest, UnreferencedContentIdIsStillOffered) {
    Retrieve(Head("Content-Type: multipart/mixed; boundary=m\n") +
             "\n--m\n\nsee attached\n--m\nContent-Type: application/pdf; name=\"a.pdf\"\n"
             "Content-ID: <part2@mac>\n\n%PDF\n--m--\n");
    EXPECT_NE(out.find(Link("a.pdf")), std::string::npos) << out;
}

TEST_F(MessageViewTest, AttachmentSavedByteForByteAndLinked) {
    std::string binary;
    for (int i = 0; i < 300; i++) binary += static_cast<char>(i * 7);
    std::string encoded(base64_encoded_size(static_cast<int>(binary.size())), '\0');
    base64_encode(encoded.data(), binary.data(), static_cast<int>(binary.size()));
    std::string lines;
    for (size_t i = 0; i < encoded.size(); i += 76) lines += encoded.substr(i, 76) + "\n";
    Retrieve(Head("Content-Type: multipart/mixed; boundary=\"m\"\n") +
             "\n--m\n\ntext part\n--m\nContent-Type: application/octet-stream; name=\"data.bin\"\n"
             "Content-Transfer-Encoding: base64\n\n" +
             lines + "--m--\n");
    EXPECT_EQ(ReadFile(temp + "/data.bin"), binary);
    ExpectInOrder(out, {"text part\r\n", "<center><font size=+1>Attached File : " +
                                             Link("data.bin") + "</font></center>\r\n"});
    EXPECT_EQ(taro->runtime.attachmentCount, 1);
    EXPECT_STREQ(taro->runtime.attachments[0].file_name, "data.bin");
    EXPECT_EQ(taro->runtime.attachments[0].writing, 0);
}

TEST_F(MessageViewTest, NameThatCannotBeCreatedGetsLetters) {
    std::filesystem::create_directories(temp + "/report.txt");
    std::filesystem::create_directories(temp + "/reporta.txt");
    Retrieve(Head("Content-Type: multipart/mixed; boundary=m\n") +
             "\n--m\nContent-Type: application/octet-stream; name=\"report.txt\"\n\nline\n--m--\n");
    EXPECT_EQ(ReadFile(temp + "/reportab.txt"), "line\r\n");
    EXPECT_NE(out.find(Link("reportab.txt")), std::string::npos) << out;
}

TEST_F(MessageViewTest, HostileFileNamesStayInTheUsersFolder) {
    const struct {
        const char* given;
        const char* saved;
    } cases[] = {
        {"../../x", "x"},
        {"/etc/passwd", "passwd"},
        {"..", "noname0.dat"},
        {"a\\..\\..\\evil.txt", "evil.txt"},
        {"dir/", "noname0.dat"},
        {"x<script>y.txt", "x<script>y.txt"},
        {"a\x01b.txt", "noname0.dat"},
    };
    for (const auto& t : cases) {
        SCOPED_TRACE(t.given);
        Start(PageState::MessageWait, 3);
        delete_user_files(taro);
        std::filesystem::remove_all(temp);
        Retrieve(Head("Content-Type: multipart/mixed; boundary=m\n") +
                 "\n--m\nContent-Type: application/octet-stream; name=\"" + t.given +
                 "\"\n\ncontent\n--m--\n");
        ASSERT_EQ(TempFiles().size(), 1u);
        EXPECT_EQ(TempFiles()[0].substr(0, strlen(t.saved)), t.saved);
        EXPECT_FALSE(std::filesystem::exists(home + "/x"));
        EXPECT_EQ(markup_audit::Audit(out), "");
    }
}

// Parts of one message of 3 in mailbox order 2, 1, 3 at numbers 4, 5, 6.
std::string DividedPart(int number) {
    static const char* const kBodies[] = {
        "From: Hanako <hanako@example.jp>\nSubject: big\nMessage-Id: <inner@x>\n"
        "Content-Type: text/plain\n\nfirst line\n",
        "second line\n", "third line\n"};
    return "From: hanako@example.jp\nSubject: big (" + std::to_string(number) +
           "/3)\nContent-Type: message/partial; number=" + std::to_string(number) +
           "; total=3; id=\"p@x\"\n\n" + kBodies[number - 1];
}

TEST_F(MessageViewTest, DividedMailOpenedAtPartOneIsJoined) {
    const std::map<int, std::string> mailbox = {
        {1, Head() + "\nunrelated\n"},
        {2, Head("Content-Type: message/partial; number=2; total=3; id=\"other@x\"\n") + "\nx\n"},
        {3, Head("Content-Type: text/html\n") + "\n<p>unrelated</p>\n"},
        {4, DividedPart(2)},
        {6, DividedPart(3)}};
    Start(PageState::MessageWait, 5);
    const std::string commands = Retrieve(DividedPart(1), mailbox);
    EXPECT_EQ(commands,
              "TOP 1 0\r\nTOP 2 0\r\n"
              "TOP 3 0\r\nTOP 4 0\r\nRETR 4\r\n"
              "TOP 1 0\r\nTOP 2 0\r\nTOP 3 0\r\nTOP 4 0\r\nTOP 6 0\r\nRETR 6\r\nQUIT\r\n");
    ExpectInOrder(out, {"Subject: big (1/3)", "first line\r\nsecond line\r\nthird line\r\n",
                        "<hr><pre><hr>"});
    EXPECT_EQ(out.find("unrelated"), std::string::npos);
    EXPECT_EQ(TempFiles(), std::vector<std::string>{});
    EXPECT_EQ(out.find("Read the first mail"), std::string::npos);
    EXPECT_STREQ(c->mime.subjectLine, "big");
}

TEST_F(MessageViewTest, DividedMailOpenedAtPartTwoGivesTheHint) {
    Start(PageState::MessageWait, 4);
    EXPECT_EQ(Retrieve(DividedPart(2)), "QUIT\r\n");
    ExpectInOrder(out, {"<center>\r\nRead the first mail (with [1/3] included in the title) in "
                        "the case of divided mail.\r\n\r\n</center>"});
    EXPECT_EQ(out.find("second line"), std::string::npos);
}

TEST_F(MessageViewTest, LinksFollowTheOptions) {
    data_store().settings.mail_options = 0; // delete link fixed on
    taro->options[jump_flag] = 1;
    taro->options[save_text] = 1;
    taro->options[header_flag] = 1;
    Retrieve(Head() + "\nbody\n");
    const std::string back = "<a href=\"/mail/index.html" + kViewQuery +
                             "#a0003\">Go back to the list</a>      <a href=\"/mail/"
                             "index.html?delete=a3.%3Cabc%2B1%40example.jp%3E" +
                             kViewQuery + "\">Go back to the list after deleting</a><hr>";
    EXPECT_EQ(Count(out, back), 2u) << out;
    ExpectInOrder(out, {"body\r\n<hr><center><a href=\"/mail/a0003.txt" + kViewQuery +
                            "\">Save text in a file</a></center><hr>",
                        "</pre></center><pre>From: Hanako &lt;hanako@example.jp&gt;\n"});
}

TEST_F(MessageViewTest, ReadMarkSetWhenRequested) {
    KeptEntry* tail = nullptr;
    KeptEntry* entry = append_kept(taro, 0, tail, 3, 100);
    ASSERT_NE(entry, nullptr);
    taro->options[delete_flag] = 1;
    Retrieve(Head() + "\nbody\n");
    EXPECT_EQ(entry->read, 1);
    free_kept_list(taro, 0);
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
    ExpectInOrder(out, {"<hr></pre>", "one<br>\x82\xb1<br>two<br>", "<pre><hr>"});
}

TEST_F(MessageViewTest, TextDownloadBytes) {
    Start(PageState::TextWait, 3);
    taro->options[save_text] = 1;
    const std::string commands =
        Retrieve(Head("Content-Type: multipart/mixed; boundary=m\n") + "\n--m\n\n" + kJisHello +
                 "\n<b>&\n--m\nContent-Type: application/zip; name=\"z.zip\"\n\nPK\n--m--\n");
    EXPECT_EQ(MaskDates(out), "HTTP/1.0 200 OK\r\nDate: *\r\nServer: Tarnbox 1.51\r\n"
                              "Connection: close\r\nContent-Type: application/octet-stream\r\n"
                              "Content-Disposition: attachment\r\n\r\n"
                              "Subject: " +
                                  kSjisAi +
                                  "\r\nDate: 2002/12/03 10:20:30\r\n"
                                  "From: Hanako <hanako@example.jp>\r\n\r\n" +
                                  kSjisHello + "\r\n<b>&\r\n");
    EXPECT_EQ(commands, "QUIT\r\n");
    EXPECT_EQ(ReadFile(temp + "/z.zip"), "PK\r\n");
}

TEST_F(MessageViewTest, ListModeHandsTheHeaderToTheList) {
    KeptEntry* tail = nullptr;
    append_kept(taro, 0, tail, 1, 10);
    c->state = PageState::ListWait;
    c->workerResult = FetchingHeaders;
    c->list.current = taro->runtime.keptList[0];
    c->list.rowNumber = 1;
    Reply(Head() + "\n");
    EXPECT_STREQ(taro->runtime.keptList[0]->messageId, "<abc+1@example.jp>");
    EXPECT_EQ(Sent(), "QUIT\r\n");
    free_kept_list(taro, 0);
}

} // namespace
