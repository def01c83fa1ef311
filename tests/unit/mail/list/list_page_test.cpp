#include "mail/list/list_fixture.h"
#include "server/route/dispatcher.h"
#include "server/route/evaluate.h"

namespace {

const TestMail kPlain = {
    100, "Hello", "Tue, 03 Dec 2002 10:20:30 +0900", "a@example.jp", "<1@example.jp>", kClassText};

bool EntityAt(const std::string& s, size_t i) {
    for (const char* e : {"&lt;", "&gt;", "&amp;", "&quot;"})
        if (s.compare(i, strlen(e), e) == 0) return true;
    return false;
}

class ListPage : public ListTest {
protected:
    // One message listed, its TOP answered with mail.
    void ListOne(const TestMail& mail) {
        Stat(1);
        List({{1, mail.size}});
        Top(mail);
        ASSERT_EQ(Sent(), "LIST\r\nTOP 1 0\r\nQUIT\r\n");
    }
    // The subject as written into the first row.
    std::string RowSubject() const {
        const std::string rows = Rows();
        size_t start = rows.find("0001. ");
        size_t end = rows.find("</a></font>\r\n");
        if (start == std::string::npos || end == std::string::npos) return "<no row>";
        return rows.substr(start + 6, end - start - 6);
    }
};

TEST_F(ListPage, HostileSubjectCannotBecomeMarkup) {
    const struct {
        const char* subject;
        const char* shown; // null: only checked for markup bytes
    } cases[] = {
        {"<script>alert(\"x\")</script> & co",
         "&lt;script&gt;alert(&quot;x&quot;)&lt;/script&gt; &amp; co"},
        {"\x1b<b>", "&lt;b&gt;"},           // an escape the filter does not know
        {"\x82<x", "\x82&lt;x"},            // a lead byte without its trail
        {"\x1b(I<\x1b(B", "\x83\x56"},      // 7-bit katakana, not a "<"
        {"a\x1b$", "a$"},                   // a stray escape at the end
        {"\x1b$B$\"\x1b$<img>", nullptr},   // a broken two-byte run
        {"\x1b$B\x1b(J<i>\x1b$@", nullptr}, // switches of every kind
    };
    for (const auto& t : cases) {
        SCOPED_TRACE(t.subject);
        NewVisit();
        free_kept_list(taro, 0);
        TestMail m = kPlain;
        m.subject = t.subject;
        ListOne(m);
        const std::string shown = RowSubject();
        if (t.shown) EXPECT_EQ(shown, t.shown);
        for (size_t i = 0; i < shown.size(); i++) {
            const char b = shown[i];
            EXPECT_TRUE(b != '<' && b != '>' && b != '"' && b != '\x1b') << i;
            if (b == '&') EXPECT_TRUE(EntityAt(shown, i)) << i;
        }
        // The row goes on as markup after the subject.
        EXPECT_NE(Rows().find("</a></font>\r\n          2002/12/03 10:20:30  (   100)  "),
                  std::string::npos);
    }
}

TEST_F(ListPage, SenderIsEscapedText) {
    TestMail m = kPlain;
    m.from = "<img src=x onerror=alert(1)> & \x1b$B$\"\x1b(B";
    ListOne(m);
    EXPECT_NE(Rows().find("  &lt;img src=x onerror=alert(1)&gt; &amp; \x82\xa0\r\n\r\n"),
              std::string::npos);
}

TEST_F(ListPage, ReadMarksTickTheBox) {
    const struct {
        int mark;
        bool clear;
        const char* refetchedId; // message 2 changed size and came back with this id
        bool checked;
    } cases[] = {
        {1, false, nullptr, true},
        {0, false, nullptr, false},
        {1, true, nullptr, false},
        {1, false, "<2@example.jp>", true},
        {1, false, "<other@example.jp>", false},
    };
    for (const auto& t : cases) {
        SCOPED_TRACE(testing::Message()
                     << t.mark << t.clear << (t.refetchedId ? t.refetchedId : ""));
        free_kept_list(taro, 0);
        NewVisit();
        TestMail second = kPlain;
        second.messageId = "<2@example.jp>";
        std::vector<TestMail> mails = {kPlain, second};
        Exchange(mails);
        mark_read(taro->runtime.keptList[0], 2, t.mark);
        if (t.clear) clear_read_marks(taro);
        if (t.refetchedId) {
            mails[1].size = 101;
            mails[1].messageId = t.refetchedId;
        }
        NewVisit();
        Exchange(mails);
        EXPECT_NE(Rows().find("name=\"delete_a1\" ><a"), std::string::npos);
        const char* row2 = t.checked ? "name=\"delete_a2\" CHECKED><a" : "name=\"delete_a2\" ><a";
        EXPECT_NE(Rows().find(row2), std::string::npos);
    }
}

TEST_F(ListPage, MergedListSections) {
    SettingsSet& s = taro->set[1];
    snprintf(s.id, sizeof s.id, "jiro");
    snprintf(s.mail_address, sizeof s.mail_address, "jiro@example.net");
    snprintf(taro->runtime.pop3ErrorText[1], sizeof taro->runtime.pop3ErrorText[1],
             "mailbox <locked>");
    const std::string head = "<hr>Mail Address jiro@example.net\r\n";
    const std::string headJa = "<hr>" + Sjis("メールアドレス") + " jiro@example.net\r\n";
    const struct {
        int status, english, perUserServers;
        std::string section;
    } cases[] = {
        {1, 1, 0, head + "\r\n<center><font size=+1>No mail received.\r\n</font>\r\n</center>"},
        {101, 1, 0,
         head + "\r\n<font size=+1><center>An error occurred while connecting to the POP3 "
                "server.\r\n\r\n</center></font>"},
        {103, 1, 1,
         head + "\r\n<font size=+1><center>Could not find the POP3 server.\r\nCheck if the POP3 "
                "server name in Settings 2 is correct.\r\n\r\n</center></font>"},
        {103, 0, 1,
         headJa + "\r\n<font size=+1><center>" +
             Sjis("POP3 サーバーが見つかりませんでした。\r\n設定2 の POP3 "
                  "サーバー名が正しいか確認してください。") +
             "\r\n\r\n</center></font>"},
        {105, 1, 0,
         head + "\r\n<font size=+1><center>Could not connect to the POP3 server.\r\nThe POP3 "
                "server is down or is not responding.</center></font>\r\n"},
        {106, 1, 0,
         head + "\r\n<font size=+1><center>Could not log in to the POP3 server.\r\nID or "
                "password is wrong or you are already logged in.\r\n</font>Error "
                "message\r\nmailbox &lt;locked&gt;</center>\r\n"},
        {107, 1, 0,
         head + "\r\n<font size=+1><center>\r\nThe designated mail is not on POP3 "
                "server.</font>Error message\r\nmailbox &lt;locked&gt;</center>\r\n"},
        {42, 1, 0, head + "</font><br>Error 42<br>mailbox &lt;locked&gt;</center>\r\n"},
        // Never reached a server: the basic settings' name did not resolve.
        {0, 1, 0,
         head + "\r\n<font size=+1><center>Could not find the POP3 server.\r\nCheck if the "
                "POP3 server name is in the basic settings.</center></font>\r\n"},
        {0, 1, 1,
         head + "\r\n<font size=+1><center>Could not connect to the POP3 server.\r\nThe POP3 "
                "server is down or is not responding.\r\n</center></font>\r\n"},
    };
    for (const auto& t : cases) {
        SCOPED_TRACE(testing::Message() << t.status << " english " << t.english);
        out.clear();
        c->english = static_cast<uint16_t>(t.english);
        data_store().settings.per_user_servers = t.perUserServers;
        taro->runtime.pop3Status[1] = static_cast<uint16_t>(t.status);
        list_section(*c, 1);
        EXPECT_EQ(out, t.section);
    }
    // A set without a POP3 user name has no section.
    out.clear();
    list_section(*c, 2);
    EXPECT_EQ(out, "");
}

TEST_F(ListPage, MergedSectionRowsComeFromTheSetsWorker) {
    snprintf(taro->set[1].id, sizeof taro->set[1].id, "jiro");
    snprintf(taro->set[1].mail_address, sizeof taro->set[1].mail_address, "jiro@example.net");
    NewVisit(1);
    c->loginQuery[0] = '\0';
    TestMail second = kPlain;
    second.subject = "Second";
    second.contentClass = kClassImage;
    Exchange({kPlain, second});
    taro->runtime.pop3Status[1] = kPop3Connected;
    // The parent page writes the section once the worker is done.
    NewVisit(0);
    list_section(*c, 1);
    const std::string q = kQuery;
    EXPECT_EQ(out,
              "<hr>Mail Address jiro@example.net\r\n"
              "<a name=\"b0001\"><font size=+1><input type=checkbox name=\"delete_b1\" ><a "
              "href=\"/mail/b0001.html" +
                  q +
                  "\">0001. Hello</a></font>\r\n"
                  "          2002/12/03 10:20:30  (   100)  a@example.jp\r\n\r\n"
                  "<a name=\"b0002\"><font size=+1><input type=checkbox name=\"delete_b2\" ><a "
                  "href=\"/mail/b0002.html" +
                  q +
                  "\">0002. Second</a></font>\r\n"
                  "  (File)  2002/12/03 10:20:30  (   100)  a@example.jp\r\n\r\n");
}

TEST_F(ListPage, FooterEchoesTheListTime) {
    taro->runtime.listTime = 1039000000;
    c->english = 0;
    list_footer(*c);
    EXPECT_EQ(out.rfind("<input type=\"hidden\" value=\"1039000000\" name=\"list_time\">"
                        "<input type=\"submit\" value=\"" +
                            Sjis("チェックしたメールを削除") +
                            "\">  <input type=\"reset\" value=\"" + Sjis("チェックを元に戻す") +
                            "\"></pre></form><center><hr>",
                        0),
              0u);
    EXPECT_EQ(out.substr(out.size() - 9), "</center>");
}

TEST_F(ListPage, SingleMessageDeletionNeedsTheKeptIdentifier) {
    install_received_list();
    ASSERT_NE(DeleteTokenMatches, nullptr);
    TestMail second = kPlain;
    second.messageId = "";
    Exchange({kPlain, second});
    const struct {
        int set, number;
        const char* token;
        bool accepted;
    } cases[] = {
        {0, 1, "<1@example.jp>", true},
        {0, 1, "<1@example.jp>?user=taro", true}, // the identifier as its prefix
        {0, 1, "<1@example.j", false},
        {0, 1, "<2@example.jp>", false},
        {0, 1, "", false},
        {0, 3, "<1@example.jp>", false},
        {0, 2, "anything", true}, // a message without Message-Id
        {1, 1, "<1@example.jp>", false},
    };
    for (const auto& t : cases) {
        SCOPED_TRACE(testing::Message() << t.set << " " << t.number << " " << t.token);
        c->settingsIndex = static_cast<int16_t>(t.set);
        EXPECT_EQ(DeleteTokenMatches(*c, t.number, t.token), t.accepted);
    }
}

TEST_F(ListPage, InstalledHooks) {
    install_received_list();
    EXPECT_EQ(ListSection, &list_section);
    EXPECT_EQ(ListFooter, &list_footer);
    // A stalled exchange of set 2 is shown as an exchange error.
    ASSERT_NE(WorkerStalled, nullptr);
    c->settingsIndex = 2;
    WorkerStalled(*c);
    EXPECT_EQ(taro->runtime.pop3Status[2], kPop3ExchangeError);
    EXPECT_EQ(taro->runtime.pop3Status[0], kPop3None);
}

} // namespace
