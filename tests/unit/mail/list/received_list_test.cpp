// List exchanges driven by hand: replies are fed to the list handlers as the
// POP3 client would, the commands come back through a socket pair, and the
// page is captured.
#include "mail/date/time_zone.h"
#include "mail/list/received_list.h"
#include "mail/mail_golden.h"
#include "mail/pop3/pop3_client.h"
#include "server/route/page_fixture.h"
#include <algorithm>
#include <fcntl.h>
#include <sstream>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

const std::string kQ = "?user=taro?check=5?lang=eng";
const std::string kAddressLine = "Mail Address taro@example.jp\r\n";

struct TestMail {
    int size;
    const char* subject;
    const char* date;
    const char* from;
    const char* messageId;
    uint16_t contentClass;
};

const std::vector<TestMail> kMails = {
    {1200, "Meeting at ten", "Tue, 03 Dec 2002 10:20:30 +0900", "Hanako <hanako@example.jp>",
     "<1@example.jp>", kClassText},
    {45678, "Photos", "Wed, 04 Dec 2002 08:00:00 +0000", "jiro@example.com", "<2@example.com>",
     kClassMultipart},
    // ISO-2022-JP "あい": its 7-bit pairs hold a double quote.
    {310, "\x1b$B$\"$$\x1b(B", "Thu, 05 Dec 2002 09:00:00 +0900", "saburo@example.jp",
     "<3@example.jp>", kClassHtml},
    {999, "Re: lunch", "Fri, 06 Dec 2002 12:00:00 +0900", "shiro@example.jp", "",
     kClassAlternative},
    {2048, "Minutes", "Sat, 07 Dec 2002 13:00:00 +0900", "goro@example.jp", "<5@example.jp>",
     kClassAttachment},
};

class ReceivedList : public PageTest {
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
    // A fresh request with its own POP3 connection, for the same user.
    void NewVisit() {
        CloseVisit();
        out.clear();
        c = Capture();
        c->user = taro;
        c->route = Route::Mail;
        c->state = PageState::ListWait;
        c->settingsIndex = 0;
        snprintf(c->userName, sizeof c->userName, "taro");
        snprintf(c->loginQuery, sizeof c->loginQuery, "%s", kQ.c_str());
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, server), 0);
        fcntl(server[1], F_SETFL, O_NONBLOCK);
        c->mailSocket = server[0];
        // A server asked already, without pipelining: one TOP at a time.
        c->pop3.capaKnown = 1;
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
    void Stat(int count) {
        c->pop3.statCount = static_cast<uint16_t>(count);
        c->workerResult = StatSent;
        pop3_list_asks(*c, list_after_stat(*c));
    }
    void List(const std::vector<std::pair<int, int>>& numberAndSize) {
        for (auto [number, size] : numberAndSize)
            pop3_list_asks(
                *c, list_line(*c, (std::to_string(number) + " " + std::to_string(size)).c_str()));
        pop3_list_asks(*c, list_line(*c, "."));
    }
    // A TOP reply as the MIME parser leaves it.
    void Top(const TestMail& m) {
        MimeState& h = c->mime;
        snprintf(h.subjectLine, sizeof h.subjectLine, "%s", m.subject);
        snprintf(h.dateLine, sizeof h.dateLine, "%s", m.date);
        snprintf(h.fromLine, sizeof h.fromLine, "%s", m.from);
        snprintf(h.messageId, sizeof h.messageId, "%s", m.messageId);
        h.contentClass = m.contentClass;
        pop3_list_asks(*c, list_headers_done(*c));
    }
    // A whole exchange with a server holding mails; the commands after STAT.
    std::string Exchange(const std::vector<TestMail>& mails) {
        Stat(static_cast<int>(mails.size()));
        std::vector<std::pair<int, int>> lines;
        for (size_t i = 0; i < mails.size(); i++) lines.emplace_back(i + 1, mails[i].size);
        std::string sent = Sent();
        if (sent == "LIST\r\n") List(lines);
        for (std::string s; !(s = Sent()).empty();) {
            sent += s;
            int number = 0;
            if (sscanf(s.c_str(), "TOP %d 0", &number) == 1) Top(mails.at(number - 1));
        }
        return sent;
    }
    // The page after the heading.
    std::string Rows() const {
        size_t at = out.find(kAddressLine);
        return at == std::string::npos
                   ? "<no heading>"
                   : mail_golden::MaskListTime(out.substr(at + kAddressLine.size()));
    }

    UserRecord* taro = nullptr;
    ConnectionPtr c;
    int server[2] = {-1, -1};
};

std::vector<TestMail> First(size_t n) {
    return {kMails.begin(), kMails.begin() + static_cast<long>(n)};
}

TEST_F(ReceivedList, ChangedOrRemovedMailIsListedAnew) {
    EXPECT_EQ(Exchange(First(4)), "LIST\r\nTOP 1 0\r\nTOP 2 0\r\nTOP 3 0\r\nTOP 4 0\r\nQUIT\r\n");
    NewVisit(); // a size change lists everything anew, from the first entry
    std::vector<TestMail> now = First(4);
    now[2].size = 311;
    EXPECT_EQ(Exchange(now), "LIST\r\nTOP 1 0\r\nTOP 3 0\r\nQUIT\r\n");
    std::string golden = mail_golden::Section("one size changed", Rows());

    NewVisit(); // mail removed elsewhere: the kept list no longer fits
    EXPECT_EQ(Exchange({kMails[1], kMails[3]}), "LIST\r\nTOP 1 0\r\nTOP 2 0\r\nQUIT\r\n");
    EXPECT_GOLDEN(golden + mail_golden::Section("two removed", Rows()), "changed_or_removed.ref");
}

TEST_F(ReceivedList, NewMailAfterADeletionIsFetchedByItsServerNumber) {
    Exchange(First(4));
    NewVisit();
    remove_kept(taro, 0, 2);
    Stat(4);
    List({{1, 1200}, {3, 310}, {4, 999}, {5, 2048}});
    EXPECT_EQ(Sent(), "LIST\r\nTOP 5 0\r\n");
    Top(kMails[4]);
    EXPECT_EQ(Sent(), "QUIT\r\n");
    EXPECT_GOLDEN(Rows(), "after_deletion.ref");
}

TEST_F(ReceivedList, EntryLeftWithoutHeadersIsFetchedAgain) {
    Stat(3);
    List({{1, 1200}, {2, 45678}, {3, 310}});
    Top(kMails[0]);
    ASSERT_EQ(Sent(), "LIST\r\nTOP 1 0\r\nTOP 2 0\r\n"); // and the exchange broke off
    NewVisit();
    std::vector<TestMail> now = First(3);
    now[0].size = 1201;
    EXPECT_EQ(Exchange(now), "LIST\r\nTOP 1 0\r\nTOP 2 0\r\nTOP 3 0\r\nQUIT\r\n");
    EXPECT_GOLDEN(Rows(), "fetched_again.ref");
}

TEST_F(ReceivedList, HeadersOfOneMessageDoNotLeakIntoTheNext) {
    Stat(2);
    List({{1, 10}, {2, 20}});
    Top(kMails[0]);
    snprintf(c->mime.dateLine, sizeof c->mime.dateLine, "%s", kMails[1].date);
    pop3_list_asks(*c, list_headers_done(*c)); // no From, no Message-Id, no Content-Type
    const KeptEntry* second = taro->runtime.keptList[0]->next;
    EXPECT_STREQ(second->from, "");
    EXPECT_STREQ(second->messageId, "");
    EXPECT_EQ(second->contentClass, kClassText);
}

TEST_F(ReceivedList, ReadMarks) {
    const struct {
        int mark;
        bool clear;
        const char* newId; // message 2 comes back changed with this Message-Id
        bool checked;
    } cases[] = {
        {1, false, nullptr, true},
        {0, false, nullptr, false},
        {1, true, nullptr, false},
        {1, false, "<2@example.com>", true},
        {1, false, "<22@example.com>", false},
    };
    for (const auto& t : cases) {
        SCOPED_TRACE(testing::Message() << t.mark << t.clear << (t.newId ? t.newId : ""));
        free_kept_list(taro, 0);
        NewVisit();
        std::vector<TestMail> mails = First(2);
        Exchange(mails);
        mark_read(taro->runtime.keptList[0], 2, t.mark);
        if (t.clear) clear_read_marks(taro);
        if (t.newId) mails[1] = {45679, "Photos", mails[1].date, mails[1].from, t.newId, 4};
        NewVisit();
        Exchange(mails);
        EXPECT_NE(Rows().find("name=\"delete_a1\" ><a"), std::string::npos);
        EXPECT_NE(Rows().find(t.checked ? "\"delete_a2\" CHECKED><a" : "\"delete_a2\" ><a"),
                  std::string::npos);
    }
}

TEST_F(ReceivedList, HostileSubjectCannotBecomeMarkup) {
    const char* const cases[] = {
        "<script>alert(\"x\")</script> & co",
        "\x1b<b>",       // an escape the filter does not know
        "\x82<x",        // a lead byte without its trail
        "\x1b(I<\x1b(B", // 7-bit katakana, not a "<"
        "a\x1b$",        // a stray escape at the end
        "\x1b$B$\"<",    // a two-byte run cut short must not swallow the row
    };
    std::string golden;
    for (const char* subject : cases) {
        free_kept_list(taro, 0);
        NewVisit();
        TestMail m = kMails[0];
        m.subject = subject;
        Exchange({m});
        golden += mail_golden::Section(mail_golden::Escape(subject), Rows());
    }
    EXPECT_GOLDEN(golden, "hostile_subjects.ref");
}

TEST_F(ReceivedList, MergedListSections) {
    snprintf(taro->set[1].id, sizeof taro->set[1].id, "jiro");
    snprintf(taro->set[1].mail_address, sizeof taro->set[1].mail_address, "jiro@example.net");
    snprintf(taro->runtime.pop3ErrorText[1], 300, "mailbox <locked>");
    const struct {
        int status, perUserServers;
    } cases[] = {
        {1, 0},  {101, 0}, {103, 1}, {107, 0},
        {42, 0}, {0, 0}, // never connected: the basic settings' server name did not resolve
    };
    std::string golden;
    for (const auto& t : cases) {
        SCOPED_TRACE(t.status);
        out.clear();
        data_store().settings.per_user_servers = t.perUserServers;
        taro->runtime.pop3Status[1] = static_cast<uint16_t>(t.status);
        list_section(*c, 1);
        golden += mail_golden::Section("status " + std::to_string(t.status) + " servers " +
                                           std::to_string(t.perUserServers),
                                       out);
    }
    EXPECT_GOLDEN(golden, "merged_sections.ref");
}

// The commands of a pipelined list: the TOPs go out a window ahead of the
// reply being read, each reply pairs with its own entry, and QUIT waits for
// the last reply.
TEST_F(ReceivedList, PipelinedTopsStayAWindowAheadAndPairWithTheirEntries) {
    const struct {
        const char* name;
        int count;
        bool secondVisit; // every third message changed since a first visit
    } cases[] = {
        {"more than two windows", 3 * kPipelineWindow + 7, false},
        {"every third changed", 2 * kPipelineWindow, true},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        NewVisit();
        free_kept_list(taro, 0);
        std::vector<TestMail> mails;
        for (int i = 0; i < k.count; i++) mails.push_back(kMails[static_cast<size_t>(i) % 5]);
        std::vector<int> wanted;
        for (int n = 1; n <= k.count; n++) wanted.push_back(n);
        if (k.secondVisit) {
            c->pop3.capaKnown = 1;
            Exchange(mails); // a first visit one by one
            NewVisit();
            // A size change lists anew from the first entry.
            wanted = {1};
            for (int n = 3; n <= k.count; n += 3) {
                mails[static_cast<size_t>(n - 1)].size += 1;
                wanted.push_back(n);
            }
        }
        c->pop3.capaKnown = 0;
        Stat(k.count);
        std::vector<std::pair<int, int>> lines;
        for (size_t i = 0; i < mails.size(); i++) lines.emplace_back(i + 1, mails[i].size);
        EXPECT_EQ(Sent(), "LIST\r\n");
        out.clear();
        List(lines);
        ASSERT_EQ(Sent(), "CAPA\r\n");
        const std::string capa = "+OK\r\nTOP\r\nPIPELINING\r\n.\r\n";
        ASSERT_EQ(pop3_feed(*c, capa.data(), capa.size()), 0);
        std::vector<int> asked;
        size_t answered = 0, mostOut = 0;
        for (std::string s; !(s = Sent()).empty() || answered < asked.size();) {
            std::istringstream in(s);
            for (std::string line; std::getline(in, line);) {
                int number = 0;
                if (sscanf(line.c_str(), "TOP %d 0", &number) == 1) {
                    asked.push_back(number);
                } else {
                    EXPECT_EQ(line, "QUIT\r");
                    EXPECT_EQ(answered, wanted.size()) << "QUIT before the last reply";
                }
            }
            mostOut = std::max(mostOut, asked.size() - answered);
            if (answered == asked.size()) break;
            Top(mails.at(static_cast<size_t>(asked[answered++] - 1)));
        }
        EXPECT_EQ(asked, wanted);
        EXPECT_EQ(mostOut, std::min(wanted.size(), static_cast<size_t>(kPipelineWindow) + 1));
        EXPECT_GOLDEN(Rows(),
                      std::string("pipelined_") + (k.secondVisit ? "changed" : "all") + ".ref");
        for (const KeptEntry* e = taro->runtime.keptList[0]; e; e = e->next)
            ASSERT_EQ(e->changed, 0) << e->number;
    }
}

// A server that does not pipeline, or a list needing one TOP, is spoken to
// as before.
TEST_F(ReceivedList, WithoutPipeliningTheTopsGoOneByOne) {
    for (const std::string capa : {"-ERR what?\r\n", "+OK\r\nTOP\r\nUSER\r\n.\r\n"}) {
        SCOPED_TRACE(capa);
        NewVisit();
        free_kept_list(taro, 0);
        c->pop3.capaKnown = 0;
        Stat(3);
        List({{1, 1200}, {2, 45678}, {3, 310}});
        EXPECT_EQ(Sent(), "LIST\r\nCAPA\r\n");
        pop3_feed(*c, capa.data(), capa.size());
        EXPECT_EQ(Sent(), "TOP 1 0\r\n");
        Top(kMails[0]);
        EXPECT_EQ(Sent(), "TOP 2 0\r\n");
        Top(kMails[1]);
        EXPECT_EQ(Sent(), "TOP 3 0\r\n");
        Top(kMails[2]);
        EXPECT_EQ(Sent(), "QUIT\r\n");
    }
    NewVisit();
    free_kept_list(taro, 0);
    c->pop3.capaKnown = 0;
    Stat(1);
    List({{1, 1200}});
    EXPECT_EQ(Sent(), "LIST\r\nTOP 1 0\r\n");
}

TEST_F(ReceivedList, SingleMessageDeletionNeedsTheKeptIdentifier) {
    Exchange(First(4));
    const struct {
        int set, number;
        const char* token;
        bool accepted;
    } cases[] = {
        {0, 1, "<1@example.jp>", true},  {0, 1, "<1@example.jp>?user=taro", true},
        {0, 1, "<1@example.j", false},   {0, 1, "<2@example.com>", false},
        {0, 9, "<1@example.jp>", false}, {0, 4, "anything", true}, // kept without a Message-Id
        {1, 1, "<1@example.jp>", false},
    };
    for (const auto& t : cases) {
        SCOPED_TRACE(testing::Message() << t.set << " " << t.number << " " << t.token);
        c->settingsIndex = static_cast<int16_t>(t.set);
        EXPECT_EQ(delete_token_matches(*c, t.number, t.token), t.accepted);
    }
}

} // namespace

TEST(SafeSubject, EscapesMarkupAndKeepsWhatFollowsABrokenRun) {
    char out[kSafeSubjectSize];
    safe_subject(out, "<b>&\"x\" \x1b$B$\"\x1b(B");
    EXPECT_STREQ(out, "&lt;b&gt;&amp;&quot;x&quot; \x82\xa0");
    // The pair '"' 0x82 converts to a lead byte and a NUL.
    safe_subject(out, "a \x1b$B\"\x82\x1b(B tail");
    EXPECT_STREQ(out, "a \x81 tail");
}

// A Japanese page takes the attachment mark (添付) from the Japanese column,
// and the extension rows of the Windows code page (㈱山﨑工業) reach the row
// unharmed.
TEST_F(ReceivedList, JapaneseRowsCarryTheJapaneseMark) {
    c->english = 0;
    const TestMail mail{2048,
                        "\x1b$B-j;3yu9)6H\x1b(B",
                        "Sat, 07 Dec 2002 13:00:00 +0900",
                        "goro@example.jp",
                        "<5@example.jp>",
                        kClassAttachment};
    Exchange({mail});
    EXPECT_GOLDEN(mail_golden::MaskListTime(MaskDates(out)), "japanese_row.ref");
}
