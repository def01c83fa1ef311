#include "mail/list/list_fixture.h"

namespace {

const std::string kQ = kQuery;
const std::string kCompose = "<hr><a href=\"/mail/write/index.html" + kQ +
                             "\">Write Mail</a>    <a href=\"/mail/logout/index.html" + kQ +
                             "\">Finish Reading/Writing</a>";
const std::string kHeading =
    "<html><head><title>List of Received Mail of taro</title></head><body><pre><center><font "
    "size=+1>List of Received Mail of taro</font>" +
    kCompose + "<hr></center><form method=\"post\" action=\"/mail/index.html" + kQ +
    "\"><pre>Mail Address taro@example.jp\r\n";

const std::vector<TestMail> kMails = {
    {1200, "Meeting at ten", "Tue, 03 Dec 2002 10:20:30 +0900", "Hanako <hanako@example.jp>",
     "<1@example.jp>", kClassText},
    {45678, "Photos", "Wed, 04 Dec 2002 08:00:00 +0000", "jiro@example.com", "<2@example.com>",
     kClassMultipart},
    // ISO-2022-JP "あい": its 7-bit pairs hold a double quote.
    {310, "\x1b$B$\"$$\x1b(B", "Thu, 05 Dec 2002 09:00:00 +0900", "saburo@example.jp",
     "<3@example.jp>", kClassHtml},
    {999, "Re: lunch", "Fri, 06 Dec 2002 12:00:00 +0900", "shiro@example.jp", "<4@example.jp>",
     kClassAlternative},
    {2048, "Minutes", "Sat, 07 Dec 2002 13:00:00 +0900", "goro@example.jp", "<5@example.jp>",
     kClassAttachment},
};

std::vector<TestMail> First(size_t n) {
    return {kMails.begin(), kMails.begin() + static_cast<long>(n)};
}

// The row of kMails[mail] shown as row number row.
std::string RowOf(size_t mail, int row) {
    static const char* const kRows[] = {
        "0001. Meeting at ten</a></font>\r\n"
        "          2002/12/03 10:20:30  (  1200)  Hanako &lt;hanako@example.jp&gt;\r\n\r\n",
        "0002. Photos</a></font>\r\n"
        "  (File)  2002/12/04 17:00:00  ( 45678)  jiro@example.com\r\n\r\n",
        "0003. \x82\xa0\x82\xa2</a></font>\r\n"
        "          2002/12/05 09:00:00  (   310)  saburo@example.jp\r\n\r\n",
        "0004. Re: lunch</a></font>\r\n"
        "          2002/12/06 12:00:00  (   999)  shiro@example.jp\r\n\r\n",
        "0005. Minutes</a></font>\r\n"
        "  (File)  2002/12/07 13:00:00  (  2048)  goro@example.jp\r\n\r\n",
    };
    char head[200];
    snprintf(head, sizeof head,
             "<a name=\"a%04d\"><font size=+1><input type=checkbox name=\"delete_a%d\" ><a "
             "href=\"/mail/a%04d.html%s\">",
             row, row, row, kQuery);
    std::string text = kRows[mail];
    char number[8];
    snprintf(number, sizeof number, "%04d", row);
    return head + text.replace(0, 4, number);
}

std::string RowsOf(size_t count) {
    std::string rows;
    for (size_t i = 0; i < count; i++) rows += RowOf(i, static_cast<int>(i + 1));
    return rows;
}

using ReceivedList = ListTest;

TEST_F(ReceivedList, EmptyMailboxFinishesAtOnce) {
    int32_t before = Now();
    Stat(0);
    EXPECT_EQ(Sent(), "QUIT\r\n");
    EXPECT_EQ(c->workerResult, Quitting);
    list_footer(*c);
    int32_t shown = taro->runtime.listTime;
    EXPECT_GE(shown, before);
    EXPECT_LE(shown, Now());
    EXPECT_EQ(MaskDates(out),
              StatusBlock(200) + kHeading +
                  "<center>\r\n<font size=+1>No mail received.\r\n</font>\r\n</center>"
                  "<input type=\"hidden\" value=\"" +
                  std::to_string(shown) +
                  "\" name=\"list_time\"><input type=\"submit\" value=\"Delete Marked Mail\">  "
                  "<input type=\"reset\" value=\"Return Markings to the previous "
                  "settings\"></pre></form><center>" +
                  kCompose + "<hr><a href=\"/mail/setup/index.html" + kQ +
                  "\">Change Settings</a>    <a href=\"/mail/book/index.html" + kQ +
                  "\">Address Book</a>    <a href=\"/mail/sent/index.html" + kQ +
                  "\">Go to the list of mail sent</a></center>");
}

TEST_F(ReceivedList, ServerListingNothingDespiteStat) {
    Stat(2);
    EXPECT_EQ(Sent(), "LIST\r\n");
    List({});
    EXPECT_EQ(Sent(), "QUIT\r\n");
    EXPECT_EQ(Rows(), "<center>\r\n<font size=+1>No mail received.\r\n</font>\r\n</center>");
}

TEST_F(ReceivedList, FirstVisitFetchesEveryHeader) {
    EXPECT_EQ(Exchange(First(3)), "LIST\r\nTOP 1 0\r\nTOP 2 0\r\nTOP 3 0\r\nQUIT\r\n");
    EXPECT_EQ(MaskDates(out), StatusBlock(200) + kHeading + RowsOf(3));
    EXPECT_EQ(count_kept(taro->runtime.keptList[0]), 3);
}

TEST_F(ReceivedList, SecondVisitWritesRowsFromKeptList) {
    Exchange(First(3));
    const std::string firstPage = out;
    NewVisit();
    EXPECT_EQ(Exchange(First(3)), "LIST\r\nQUIT\r\n");
    EXPECT_EQ(MaskDates(out), MaskDates(firstPage));
}

TEST_F(ReceivedList, NewMessageAtTheEndIsTheOnlyTop) {
    Exchange(First(3));
    NewVisit();
    EXPECT_EQ(Exchange(First(4)), "LIST\r\nTOP 4 0\r\nQUIT\r\n");
    EXPECT_EQ(Rows(), RowsOf(4));
}

TEST_F(ReceivedList, SizeChangeListsEverythingAnew) {
    Exchange(First(4));
    NewVisit();
    std::vector<TestMail> now = First(4);
    now[2] = {311,
              "Changed",
              "Thu, 05 Dec 2002 09:00:00 +0900",
              "saburo@example.jp",
              "<3b@example.jp>",
              kClassText};
    EXPECT_EQ(Exchange(now), "LIST\r\nTOP 1 0\r\nTOP 3 0\r\nQUIT\r\n");
    const std::string changed =
        "<a name=\"a0003\"><font size=+1><input type=checkbox name=\"delete_a3\" ><a "
        "href=\"/mail/a0003.html" +
        kQ +
        "\">0003. Changed</a></font>\r\n"
        "          2002/12/05 09:00:00  (   311)  saburo@example.jp\r\n\r\n";
    EXPECT_EQ(Rows(), RowOf(0, 1) + RowOf(1, 2) + changed + RowOf(3, 4));
}

TEST_F(ReceivedList, MailRemovedElsewhereStartsOver) {
    Exchange(First(4));
    NewVisit();
    std::vector<TestMail> now = {kMails[1], kMails[3]};
    EXPECT_EQ(Exchange(now), "LIST\r\nTOP 1 0\r\nTOP 2 0\r\nQUIT\r\n");
    EXPECT_EQ(Rows(), RowOf(1, 1) + RowOf(3, 2));
    EXPECT_EQ(count_kept(taro->runtime.keptList[0]), 2);
}

TEST_F(ReceivedList, DeletedMessageRenumbersTheRowsAfterIt) {
    Exchange(First(5));
    NewVisit();
    // DELE 3 in this connection, then STAT: the server keeps the numbers of
    // the other messages until QUIT.
    remove_kept(taro, 0, 3);
    Stat(4);
    List({{1, 1200}, {2, 45678}, {4, 999}, {5, 2048}});
    EXPECT_EQ(Sent(), "LIST\r\nQUIT\r\n");
    EXPECT_EQ(Rows(), RowOf(0, 1) + RowOf(1, 2) + RowOf(3, 3) + RowOf(4, 4));
    // The next connection numbers them as shown.
    NewVisit();
    std::vector<TestMail> after = {kMails[0], kMails[1], kMails[3], kMails[4]};
    EXPECT_EQ(Exchange(after), "LIST\r\nQUIT\r\n");
    EXPECT_EQ(Rows(), RowOf(0, 1) + RowOf(1, 2) + RowOf(3, 3) + RowOf(4, 4));
}

TEST_F(ReceivedList, DeletionWithNewMailFetchesByServerNumber) {
    Exchange(First(4));
    NewVisit();
    remove_kept(taro, 0, 2);
    Stat(4);
    List({{1, 1200}, {3, 310}, {4, 999}, {5, 2048}});
    EXPECT_EQ(Sent(), "LIST\r\nTOP 5 0\r\n");
    Top(kMails[4]);
    EXPECT_EQ(Sent(), "QUIT\r\n");
    EXPECT_EQ(Rows(), RowOf(0, 1) + RowOf(2, 2) + RowOf(3, 3) + RowOf(4, 4));
}

TEST_F(ReceivedList, HeaderlessEntryIsFetchedAgain) {
    // The exchange broke off after TOP 2 was sent.
    Stat(3);
    List({{1, 1200}, {2, 45678}, {3, 310}});
    Top(kMails[0]);
    ASSERT_EQ(Sent(), "LIST\r\nTOP 1 0\r\nTOP 2 0\r\n");
    // Anew from the first entry: the second one is fetched although its size
    // is unchanged, or its row would stay empty.
    NewVisit();
    std::vector<TestMail> now = First(3);
    now[0].size = 1201;
    EXPECT_EQ(Exchange(now), "LIST\r\nTOP 1 0\r\nTOP 2 0\r\nTOP 3 0\r\nQUIT\r\n");
    std::string rows = RowsOf(3);
    rows.replace(rows.find("(  1200)"), 8, "(  1201)");
    EXPECT_EQ(Rows(), rows);
}

TEST_F(ReceivedList, HeadersOfOneMessageDoNotLeakIntoTheNext) {
    Stat(2);
    List({{1, 10}, {2, 20}});
    Top(kMails[0]);
    // The second message has no From and no Message-Id at all.
    snprintf(c->mime.subjectLine, sizeof c->mime.subjectLine, "bare");
    snprintf(c->mime.dateLine, sizeof c->mime.dateLine, "Tue, 03 Dec 2002 10:20:30 +0900");
    list_headers_done(*c);
    const KeptEntry* second = taro->runtime.keptList[0]->next;
    EXPECT_STREQ(second->from, "");
    EXPECT_STREQ(second->messageId, "");
    EXPECT_EQ(second->contentClass, kClassText);
}

TEST_F(ReceivedList, MalformedListLinesAreSkipped) {
    Stat(2);
    for (const char* line : {"", "x 10", "3", "0 10", "99999999999 1", "2 20"}) list_line(*c, line);
    list_line(*c, ".");
    EXPECT_EQ(Sent(), "LIST\r\nTOP 2 0\r\n");
    EXPECT_EQ(count_kept(taro->runtime.keptList[0]), 1);
}

TEST_F(ReceivedList, ExtraSetWorkerWritesNothing) {
    snprintf(taro->set[1].id, sizeof taro->set[1].id, "taro2");
    NewVisit(1);
    c->loginQuery[0] = '\0';
    EXPECT_EQ(Exchange(First(2)), "LIST\r\nTOP 1 0\r\nTOP 2 0\r\nQUIT\r\n");
    EXPECT_EQ(out, "");
    EXPECT_EQ(count_kept(taro->runtime.keptList[1]), 2);
    EXPECT_EQ(taro->runtime.keptList[0], nullptr);
}

} // namespace
