// The sent-mail log and its pages, on a gateway home with user taro logged
// in; mail is logged the way the SMTP worker leaves it in the connection.
#include "base/text/url_encode.h"
#include "mail/compose/outgoing.h"
#include "mail/mail_fixture.h"
#include "mail/mail_golden.h"
#include "mail/sent/sent_line_reader.h"
#include "mail/sent/sent_log.h"
#include "mail/sent/sent_pages.h"
#include "server/output/output_text.h"
#include <algorithm>
#include <map>
#include <regex>
#include <thread>
#include <vector>

namespace {

struct SentMail {
    std::string subject = "Hello";
    std::string text = "line one\r\nline two\r\n";
    std::string to = "jiro@example.jp";
    std::string cc = "", bcc = "";
    std::vector<std::string> files = {};
};

class SentLog : public PageTest {
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
        for (int i = 1; i <= count; i++) Send({.subject = "S" + std::to_string(i)});
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

    UserRecord* taro = nullptr;
};

TEST_F(SentLog, EntryBytes) {
    // Only a lone dot is doubled.
    const std::string date = Send({.text = "line one\r\n.\r\n..two",
                                   .cc = "hanako@example.jp",
                                   .bcc = "boss@example.jp",
                                   .files = {"a.txt", "b.pdf"}});
    EXPECT_TRUE(std::regex_match(date, std::regex(R"(\d{4}/\d\d/\d\d \d\d:\d\d:\d\d)"))) << date;
    EXPECT_GOLDEN("entry_bytes.ref", mail_golden::Replaced(File(".txl"), date, "<date>"));
}

TEST_F(SentLog, SizeLimitZeroKeepsTheNewestEntry) {
    data_store().settings.log_size_kb = 0;
    for (const std::string subject : {"S1", "S2", "S3"}) {
        Send({.subject = subject});
        EXPECT_EQ(Subjects(), subject + " ");
    }
    EXPECT_TRUE(Exists(".txb"));
    EXPECT_FALSE(Exists(".txw"));
}

TEST_F(SentLog, RotationRemovesOneEntryPerAppend) {
    data_store().settings.log_size_kb = 1;
    SendNumbered(5); // about 560 bytes
    Send({.subject = "Big", .text = std::string(900, 'x') + "\n"});
    EXPECT_EQ(Subjects(), "S2 S3 S4 S5 Big ");
    // Still above the limit, yet the next append again takes out only one.
    Send({.subject = "S6"});
    EXPECT_EQ(Subjects(), "S3 S4 S5 Big S6 ");
}

TEST_F(SentLog, DeletingRenumbersAndKeepsTheOldLog) {
    SendNumbered(5);
    const std::string before = File(".txl");
    ConnectionPtr c = Taro();
    snprintf(c->deleteList, sizeof c->deleteList, "2, 3,");
    DeleteSentEntries(*c, false);
    EXPECT_EQ(Subjects(), "S1 S4 S5 ");
    EXPECT_EQ(File(".txb"), before);
    EXPECT_FALSE(Exists(".txw"));
}

TEST_F(SentLog, LoginNamesThatLeaveTheFolderNameNoFile) {
    for (const char* name : {"", ".", "..", "../taro", "a/b"}) {
        ConnectionPtr c = Taro();
        snprintf(c->userName, sizeof c->userName, "%s", name);
        Fill(*c, SentMail{});
        AppendSentLog(*c);
    }
    EXPECT_TRUE(std::filesystem::is_empty(home + "/user"));
    EXPECT_FALSE(std::filesystem::exists(home + "/taro.txl"));
}

TEST_F(SentLog, ConfiguredFolder) {
    const std::string folder = home + "/logs";
    std::filesystem::create_directory(folder);
    snprintf(data_store().settings.log_folder, sizeof data_store().settings.log_folder, "%s",
             folder.c_str());
    SendNumbered(1);
    EXPECT_TRUE(std::filesystem::exists(folder + "/taro.txl"));
    EXPECT_FALSE(Exists(".txl"));
}

TEST_F(SentLog, ConcurrentAppendsAndRotationsStayWhole) {
    data_store().settings.log_size_kb = 4;
    constexpr int kThreads = 4, kEach = 25;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; t++) {
        threads.emplace_back([this, t] {
            for (int i = 0; i < kEach; i++) {
                ConnectionPtr c = Taro();
                c->captureForTest = nullptr;
                Fill(*c, {.subject = "T" + std::to_string(t) + "-" + std::to_string(i),
                          .text = std::string(300, 'a' + t) + "\n"});
                AppendSentLog(*c);
            }
        });
    }
    for (auto& t : threads) t.join();
    // Every entry is complete and carries one thread's text only (a rewrite
    // ends the header lines in LF alone).
    const std::regex entry(R"(Date: [^\r\n]+\r?\nSubject: T(\d)-(\d+)\r?\nFrom: [^\r\n]+\r?\n)"
                           R"(To: [^\r\n]+\r?\n\n([a-d])\3{299}\n\.\n)");
    const std::string log = File(".txl");
    std::map<int, std::vector<int>> kept; // thread -> its surviving numbers
    for (std::sregex_iterator it(log.begin(), log.end(), entry), end; it != end; ++it) {
        const int thread = (*it)[1].str()[0] - '0';
        EXPECT_EQ(thread, (*it)[3].str()[0] - 'a');
        kept[thread].push_back(std::stoi((*it)[2].str()));
    }
    EXPECT_EQ(std::regex_replace(log, entry, ""), "");
    // Ten entries of about 400 bytes hold the log at its limit: what is left
    // is the last ten appends, so no append was lost to a rotation.
    size_t entries = 0;
    for (auto& [thread, numbers] : kept) {
        entries += numbers.size();
        std::sort(numbers.begin(), numbers.end());
        EXPECT_EQ(numbers.back(), kEach - 1) << thread;
        EXPECT_EQ(numbers.back() - numbers.front() + 1, static_cast<int>(numbers.size())) << thread;
    }
    EXPECT_EQ(entries, 10u);
}

// The lines of bytes as the sent log's reader gives them, in blocks of
// blockSize, each ended in LF (the reader gives none holding one).
std::string Lines(const std::string& home, const std::string& bytes, size_t blockSize) {
    const std::string path = home + "/reader";
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    std::vector<char> block(blockSize);
    SentLineReader r;
    std::string lines;
    if (!sent_reader_open(r, path.c_str(), block.data(), block.size())) return lines;
    SentReaderCloser closeReader{r};
    while (sent_reader_next(r)) lines += std::string(r.line, r.length) + "\n";
    return lines;
}

// A line longer than the reader takes goes on as the next line; a last line
// without its line end is not given.
TEST_F(SentLog, ReaderGivesTheSameLinesThroughEveryBlockSize) {
    const std::string bytes =
        "Date: x\r\nSubject: y\r\n\n\r\ntext\n" + std::string(5000, 'a') + "\n.\nunfinished";
    for (size_t size : {2, 3, 5, 7, 64, 4096, 128000})
        EXPECT_GOLDEN("reader_lines.ref", Lines(home, bytes, size)) << size;
    // A lead byte at the last place of the line moves whole to the next line.
    const std::string a(kSentLineMax - 1, 'a');
    EXPECT_EQ(Lines(home, a + "\x93\xfa" + "b\n", 4096), a + "\n\x93\xfa" + "b\n");
    // Blocks of three bytes: "a\0b", "cd\n", "ef\n"; the "b" after the NUL
    // is not read.
    EXPECT_EQ(Lines(home, std::string("a\0bcd\nef\n", 9), 4), "acd\nef\n");
}

TEST_F(SentLog, ListRows) {
    const std::string d1 = Send({.files = {"a.txt"}});
    const std::string d2 = Send({.subject = "a<b", .to = "x&y <x@y.jp>"});
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

TEST_F(SentLog, DeletingEverythingShowsTheEmptyList) {
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

TEST_F(SentLog, DeleteLinkNeedsTheEntrysDate) {
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

TEST_F(SentLog, MessagePageAndResendValues) {
    DeleteLinkOption(true);
    SendNumbered(1);
    const std::string date = Send({.text = ".\r\nx\r\n\r\n",
                                   .cc = "c@example.jp",
                                   .bcc = "b@example.jp",
                                   .files = {"a&b.txt"}});
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

TEST_F(SentLog, MessagePageWithoutLogAndLinkRowWithoutDeleteLink) {
    ConnectionPtr c = Taro();
    c->itemNumber = 1;
    ShowSentMessage(*c);
    EXPECT_EQ(out, "");
    DeleteLinkOption(false);
    c->itemNumber = 3;
    SentLinkRow(*c);
    EXPECT_EQ(out,
              "<a href=\"/mail/sent/index.html" + kQ + "\">Go to the list of mail sent</a><hr>");
}

} // namespace
