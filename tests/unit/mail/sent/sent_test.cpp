// The sent-mail log and its pages, on a gateway home with user taro logged
// in; mail is logged the way the SMTP worker leaves it in the connection.
#include "base/text/url_encode.h"
#include "mail/compose/outgoing.h"
#include "mail/mail_fixture.h"
#include "mail/mail_golden.h"
#include "mail/sent/sent_line_reader.h"
#include "mail/sent/sent_log.h"
#include "mail/sent/sent_pages.h"
#include "page/output/output_text.h"
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
    ConnectionPtr Taro() { return Of(taro, Route::Sent); }
    static void Fill(Connection& c, const SentMail& m) {
        OutgoingMail& s = c.send;
        mail_golden::Put(s.sendTo, m.to);
        mail_golden::Put(s.sendCc, m.cc);
        mail_golden::Put(s.sendBcc, m.bcc);
        snprintf(s.toLine, sizeof s.toLine, "To: %s\r\n", m.to.c_str());
        snprintf(s.ccLine, sizeof s.ccLine, "Cc: %s\r\n", m.cc.c_str());
        snprintf(s.bccLine, sizeof s.bccLine, "Bcc: %s\r\n", m.bcc.c_str());
        snprintf(s.subjectLine, sizeof s.subjectLine, "Subject: %s\r\n", m.subject.c_str());
        snprintf(s.fromLine, sizeof s.fromLine, "From: Taro <taro@example.jp>\r\n");
        mail_golden::Put(c.messageText, m.text);
        c.uploadCount = static_cast<int16_t>(m.files.size());
        for (size_t i = 0; i < m.files.size(); i++) mail_golden::Put(c.uploadNames[i], m.files[i]);
    }
    // Logs m; returns the date text of its entry.
    std::string Send(const SentMail& m) {
        ConnectionPtr c = Taro();
        Fill(*c, m);
        AppendSentLog(*c);
        return c->send.dateLine;
    }
    std::string File(const char* extension) {
        return golden::read(home + "/user/taro" + extension);
    }
    bool Exists(const char* extension) {
        return std::filesystem::exists(home + "/user/taro" + extension);
    }
    // The subjects of the log's entries in order.
    std::string Subjects() {
        const std::string log = File(".txl");
        // A rewritten log ends every line in LF alone.
        const std::regex subject("Subject: ([^\r\n]*)");
        std::string out;
        for (std::sregex_iterator it(log.begin(), log.end(), subject), end; it != end; ++it)
            out += (out.empty() ? "" : " ") + (*it)[1].str();
        return out;
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

TEST_F(SentLog, Scripts) {
    for (const auto& record : CASE_BLOCKS("logs.cases")) {
        SCOPED_TRACE(record.at(0));
        TearDown();
        SetUp();
        out.clear();
        std::string kept, date;
        std::vector<std::string> dates; // of each "send-mail"
        ConnectionPtr shown;
        auto deleting = [&](const std::string& list) {
            ConnectionPtr c = Taro();
            mail_golden::Put(c->deleteList, list);
            return c;
        };
        mail_golden::Play(
            record,
            {{"size-kb", [&](S a) { data_store().settings.log_size_kb = std::stoi(a); }},
             {"send", [&](S a) { date = Send({.subject = a}); }},
             {"send-mail",
              [&](S a) {
                  SentMail m;
                  std::istringstream in(a);
                  std::string files;
                  for (std::string* f : {&m.subject, &m.text, &m.to, &m.cc, &m.bcc, &files})
                      std::getline(in, *f, '|');
                  m.files = mail_golden::Split(files, ' ');
                  dates.push_back(date = Send(m));
                  EXPECT_TRUE(
                      std::regex_match(date, std::regex(R"(\d{4}/\d\d/\d\d \d\d:\d\d:\d\d)")))
                      << date;
              }},
             {"log-golden",
              [&](S a) { EXPECT_GOLDEN(a, mail_golden::Replaced(File(".txl"), date, "<date>")); }},
             {"list",
              [&](S) {
                  ConnectionPtr c = Taro();
                  c->state = PageState::SentListPage;
                  Dispatcher(*c);
                  const int32_t listTime = taro->runtime.listTime.load();
                  EXPECT_NEAR(listTime, Now(), 2);
                  EXPECT_NE(out.find("value=\"" + std::to_string(listTime) + "\" name="), out.npos);
              }},
             {"dated-golden", [&](S a) { EXPECT_GOLDEN(a, Masked(out, dates)); }},
             {"resend-values",
              [&](S a) {
                  EXPECT_EQ(std::string(shown->send.sendCc) + "|" + shown->send.sendBcc + "|" +
                                std::to_string(shown->uploadCount) + shown->uploadNames[0],
                            a);
              }},
             {"send-numbered",
              [&](S a) {
                  for (int i = 1; i <= std::stoi(a); i++)
                      Send({.subject = "S" + std::to_string(i)});
              }},
             {"send-long",
              [&](S a) {
                  const size_t blank = a.find(' ');
                  Send({.subject = a.substr(0, blank),
                        .text = std::string(std::stoul(a.substr(blank + 1)), 'x') + "\n"});
              }},
             {"send-as",
              [&](S a) {
                  ConnectionPtr c = Taro();
                  mail_golden::Put(c->userName, a);
                  Fill(*c, SentMail{});
                  AppendSentLog(*c);
              }},
             {"subjects", [&](S a) { EXPECT_EQ(Subjects(), a); }},
             {"exists", [&](S a) { EXPECT_TRUE(Exists(a.c_str())); }},
             {"absent", [&](S a) { EXPECT_FALSE(Exists(a.c_str())); }},
             {"keep-log", [&](S) { kept = File(".txl"); }},
             {"backup-is-kept", [&](S) { EXPECT_EQ(File(".txb"), kept); }},
             {"delete", [&](S a) { DeleteSentEntries(*deleting(a), false); }},
             {"sent-delete", [&](S a) { SentDelete(*deleting(a)); }},
             {"sent-delete-query",
              [&](S a) {
                  char encoded[128];
                  UrlEncode(encoded, date.substr(0, 10).c_str());
                  ConnectionPtr c = Taro();
                  Route(*c, "/mail/sent/index.html?delete=" +
                                mail_golden::Replaced(a, "<date>", encoded) + kQ + " HTTP/1.0");
                  SentDelete(*c);
              }},
             {"user-folder-empty",
              [&](S) {
                  EXPECT_TRUE(std::filesystem::is_empty(home + "/user"));
                  EXPECT_FALSE(std::filesystem::exists(home + "/taro.txl"));
              }},
             {"log-folder",
              [&](S a) {
                  std::filesystem::create_directory(home + "/" + a);
                  snprintf(data_store().settings.log_folder,
                           sizeof data_store().settings.log_folder, "%s/%s", home.c_str(),
                           a.c_str());
              }},
             {"in-home", [&](S a) { EXPECT_TRUE(std::filesystem::exists(home + "/" + a)); }},
             {"golden", [&](S a) { EXPECT_GOLDEN(a, MaskDates(out)); }},
             {"delete-link",
              [&](S a) {
                  data_store().settings.mail_options |= kMailDeleteLinkChangeable;
                  taro->options[delete_link] = a == "1";
              }},
             {"show-message",
              [&](S a) {
                  shown = Taro();
                  shown->itemNumber = std::stoi(a);
                  ShowSentMessage(*shown);
              }},
             {"link-row",
              [&](S a) {
                  ConnectionPtr c = Taro();
                  c->itemNumber = std::stoi(a);
                  SentLinkRow(*c);
              }},
             {"page-is", [&](S a) { EXPECT_EQ(out, a); }}});
    }
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

} // namespace
