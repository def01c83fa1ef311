#include "mail/mail_golden.h"
// The poppassd reply reader and step machine, fed the server's side whole, in
// pieces of every small size and split once at every byte; the commands it
// would send are collected in a string.
#include "mail/poppassd/poppassd_exchange.h"
#include <algorithm>
#include <gtest/gtest.h>
#include <ostream>
#include <string>

namespace {

struct Fed {
    std::string sent;
    int over = 0;
    uint16_t step = 0;
    std::string refusal;
    bool operator==(const Fed&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Fed& r) {
    return os << "sent \"" << r.sent << "\" over " << r.over << " step " << r.step << " refusal \""
              << r.refusal << "\"";
}

struct Inputs {
    const char* user = "taro";
    const char* oldPassword = "old pw";
    const char* newPassword = "new!pw";
};

void Collect(void* context, const char* bytes, size_t n) {
    static_cast<std::string*>(context)->append(bytes, n);
}

// Pieces of size piece, except that no piece crosses the offset cut.
Fed FeedOnce(const std::string& replies, size_t piece, size_t cut, const Inputs& in) {
    PoppassdExchange x;
    x.user = in.user;
    x.oldPassword = in.oldPassword;
    x.newPassword = in.newPassword;
    Fed r;
    x.send = Collect;
    x.sendContext = &r.sent;
    for (size_t at = 0, n; at < replies.size() && !r.over; at += n) {
        n = std::min({piece, replies.size() - at, at < cut ? cut - at : piece});
        r.over = poppassd_feed(x, replies.data() + at, n);
    }
    r.step = x.step;
    r.refusal = x.refusal;
    return r;
}

// The result of the whole replies, which every other way of cutting them
// must reproduce.
Fed Feed(const std::string& replies, const Inputs& in = {}) {
    const Fed whole = FeedOnce(replies, replies.size(), 0, in);
    for (size_t piece = 1; piece <= 7; piece++)
        EXPECT_EQ(FeedOnce(replies, piece, 0, in), whole) << "pieces of " << piece;
    for (size_t cut = 1; cut < replies.size(); cut++)
        EXPECT_EQ(FeedOnce(replies, replies.size(), cut, in), whole) << "cut at " << cut;
    return whole;
}

TEST(PoppassdExchange, FourAcceptedStepsChangeThePassword) {
    Fed r = Feed("200 poppassd v1.8.5 hello, who are you?\r\n"
                 "200 Your password please.\r\n"
                 "200 Your new password please.\r\n"
                 "200 Password changed, thank-you.\r\n"
                 "200 Bye.\r\n"
                 "500 after the end\r\n");
    EXPECT_EQ(r, (Fed{"user taro\r\npass old pw\r\nnewpass new!pw\r\nQUIT\r\n", 1, kPoppassdChanged,
                      ""}));
    // Bare LF line ends, and a server that closes without answering QUIT.
    r = Feed("200 hi\n200 a\n200 b\n200 c\n");
    EXPECT_EQ(r.step, kPoppassdChanged);
    EXPECT_EQ(r.over, 0);
    // The reply to QUIT, whatever it says, does not turn a change into a failure.
    EXPECT_EQ(Feed("200 a\r\n200 b\r\n200 c\r\n200 d\r\n500 bye\r\n").step, kPoppassdChanged);
}

TEST(PoppassdExchange, RefusalAtEachStepSendsQuitAndKeepsTheText) {
    const char* accepted[] = {"200 hello\r\n", "200 user ok\r\n", "200 pass ok\r\n"};
    const char* commands[] = {"user taro\r\n", "pass old pw\r\n", "newpass new!pw\r\n"};
    std::string replies, expected;
    for (int step = 0; step < 4; step++) {
        SCOPED_TRACE(step);
        EXPECT_EQ(Feed(replies + "500 \t Old password is incorrect.\r\n200 Bye.\r\n"),
                  (Fed{expected + "QUIT\r\n", 1, kPoppassdRefused, "Old password is incorrect."}));
        if (step < 3) {
            replies += accepted[step];
            expected += commands[step];
        }
    }
    // Nor does it overwrite the text of the refusal.
    EXPECT_EQ(Feed("200 a\r\n400 first\r\n500 second\r\n").refusal, "first");
}

TEST(PoppassdExchange, OverlongLineIsOneLineAndItsTextIsBounded) {
    // The tail of the long line must not pass for a reply of its own.
    Fed r = Feed("200 " + std::string(5000, 'x') + "200 trailing\r\n200 b\r\n");
    EXPECT_EQ(r.sent, "user taro\r\npass old pw\r\n");
    EXPECT_EQ(r.step, kPoppassdPassSent);

    // Two-byte characters across the 300-byte limit of the stored text.
    std::string kanji;
    for (int i = 0; i < 3000; i++) kanji += "\x82\xa0";
    r = Feed("500 " + kanji + "\r\n");
    EXPECT_EQ(r.step, kPoppassdRefused);
    EXPECT_EQ(r.refusal, kanji.substr(0, 298));
}

TEST(PoppassdExchange, RefusalTextStartsAfterTheCode) {
    for (const auto& t : mail_golden::ReadCases(GOLDEN_PATH("refusal_text.ref"))) {
        char text[kPoppassdRefusalSize];
        poppassd_refusal_text(t.at(0).c_str(), text);
        EXPECT_EQ(text, t.at(1)) << t[0];
    }
}

TEST(PoppassdExchange, InputsThatWouldBreakTheCommandLineAreNeverSent) {
    const std::string accept = "200 a\r\n200 b\r\n200 c\r\n200 d\r\n200 Bye\r\n";
    EXPECT_EQ(Feed(accept, {"taro", "old", "x\r\nuser root"}),
              (Fed{"user taro\r\npass old\r\nQUIT\r\n", 1, kPoppassdRefused, ""}));
    const std::string huge(5000, 'p');
    const Fed r = Feed(accept, {huge.c_str()});
    EXPECT_EQ(r.sent, "QUIT\r\n");
    EXPECT_EQ(r.step, kPoppassdRefused);
}

} // namespace
