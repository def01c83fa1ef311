#include "mail/mail_golden.h"
#include "mail/sent/sent_fixture.h"

#include "mail/sent/sent_line_reader.h"
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <regex>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using SentLog = SentTest;

TEST_F(SentLog, EntryBytes) {
    SentMail m;
    m.cc = "hanako@example.jp";
    m.bcc = "boss@example.jp";
    m.files = {"a.txt", "b.pdf"};
    m.text = "line one\r\n.\r\n..two"; // only a lone dot is doubled
    const std::string date = Send(m);
    EXPECT_TRUE(std::regex_match(date, std::regex(R"(\d{4}/\d\d/\d\d \d\d:\d\d:\d\d)"))) << date;
    EXPECT_GOLDEN("entry_bytes.ref", mail_golden::Replaced(File(".txl"), date, "<date>"));
}

TEST_F(SentLog, SizeLimitZeroKeepsTheNewestEntry) {
    data_store().settings.log_size_kb = 0;
    for (int i = 1; i <= 3; i++) {
        SentMail m;
        m.subject = "S" + std::to_string(i);
        Send(m);
        EXPECT_EQ(Subjects(), m.subject + " ");
    }
    EXPECT_TRUE(Exists(".txb"));
    EXPECT_FALSE(Exists(".txw"));
}

TEST_F(SentLog, RotationRemovesOneEntryPerAppend) {
    data_store().settings.log_size_kb = 1;
    SendNumbered(5); // about 560 bytes
    SentMail big;
    big.subject = "Big";
    big.text = std::string(900, 'x') + "\n";
    Send(big);
    EXPECT_EQ(Subjects(), "S2 S3 S4 S5 Big ");
    // Still above the limit, yet the next append again takes out only one.
    SentMail small;
    small.subject = "S6";
    Send(small);
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
                SentMail m;
                m.subject = "T" + std::to_string(t) + "-" + std::to_string(i);
                m.text = std::string(300, 'a' + t) + "\n";
                Fill(*c, m);
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

class SentLineReaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tarnbox-reader-XXXXXX";
        int fd = mkstemp(pattern);
        ASSERT_GE(fd, 0);
        close(fd);
        path = pattern;
    }
    void TearDown() override { unlink(path.c_str()); }

    std::vector<std::string> Lines(const std::string& bytes, size_t blockSize) {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
        std::vector<char> block(blockSize);
        SentLineReader r;
        std::vector<std::string> lines;
        if (!sent_reader_open(r, path.c_str(), block.data(), block.size())) return lines;
        SentReaderCloser closeReader{r};
        while (sent_reader_next(r)) lines.emplace_back(r.line, r.length);
        return lines;
    }

    std::string path;
};

TEST_F(SentLineReaderTest, SameLinesThroughEveryBlockSize) {
    const std::string longLine(5000, 'a');
    const std::string bytes =
        "Date: x\r\nSubject: y\r\n\n\r\ntext\n" + longLine + "\n.\nunfinished";
    const std::vector<std::string> expected = {"Date: x",
                                               "Subject: y",
                                               "",
                                               "",
                                               "text",
                                               longLine.substr(0, kSentLineMax),
                                               longLine.substr(kSentLineMax),
                                               "."};
    for (size_t size : {2, 3, 5, 7, 64, 4096, 128000})
        EXPECT_EQ(Lines(bytes, size), expected) << size;
}

TEST_F(SentLineReaderTest, CutNeverSplitsATwoByteCharacter) {
    // A lead byte at the last place of the line moves whole to the next line.
    const std::string bytes = std::string(kSentLineMax - 1, 'a') + "\x93\xfa" + "b\n";
    const std::vector<std::string> expected = {std::string(kSentLineMax - 1, 'a'), "\x93\xfa"
                                                                                   "b"};
    EXPECT_EQ(Lines(bytes, 4096), expected);
}

TEST_F(SentLineReaderTest, NulEndsItsBlock) {
    // Blocks of three bytes: "a\0b", "cd\n", "ef\n"; the "b" after the NUL
    // is not read.
    EXPECT_EQ(Lines(std::string("a\0bcd\nef\n", 9), 4), (std::vector<std::string>{"acd", "ef"}));
}

} // namespace
