// The poppassd reply reader and step machine, fed the server's side in pieces
// of every size; the commands it would send are collected in a string.
#include "mail/poppassd/poppassd_exchange.h"
#include <gtest/gtest.h>
#include <string>

namespace {

struct Fed {
    std::string sent;
    int over = 0;
    uint16_t step = 0;
    std::string refusal;
};

void Collect(void* context, const char* bytes, size_t n) {
    static_cast<std::string*>(context)->append(bytes, n);
}

Fed Feed(const std::string& replies, size_t piece, const char* user = "taro",
         const char* oldPassword = "old pw", const char* newPassword = "new!pw") {
    PoppassdExchange x;
    x.user = user;
    x.oldPassword = oldPassword;
    x.newPassword = newPassword;
    Fed r;
    x.send = Collect;
    x.sendContext = &r.sent;
    for (size_t at = 0; at < replies.size() && !r.over; at += piece)
        r.over = poppassd_feed(x, replies.data() + at, std::min(piece, replies.size() - at));
    r.step = x.step;
    r.refusal = x.refusal;
    return r;
}

const size_t kPieces[] = {1, 2, 3, 7, 4096};

TEST(PoppassdExchange, FourAcceptedStepsChangeThePassword) {
    const std::string replies = "200 poppassd v1.8.5 hello, who are you?\r\n"
                                "200 Your password please.\r\n"
                                "200 Your new password please.\r\n"
                                "200 Password changed, thank-you.\r\n"
                                "200 Bye.\r\n"
                                "500 after the end\r\n";
    for (size_t piece : kPieces) {
        Fed r = Feed(replies, piece);
        EXPECT_EQ(r.sent, "user taro\r\npass old pw\r\nnewpass new!pw\r\nQUIT\r\n") << piece;
        EXPECT_EQ(r.step, kPoppassdChanged) << piece;
        EXPECT_EQ(r.over, 1) << piece;
        EXPECT_EQ(r.refusal, "") << piece;
    }
    // Bare LF line ends, and a server that closes without answering QUIT.
    Fed r = Feed("200 hi\n200 a\n200 b\n200 c\n", 1);
    EXPECT_EQ(r.step, kPoppassdChanged);
    EXPECT_EQ(r.over, 0);
}

TEST(PoppassdExchange, RefusalAtEachStepSendsQuitAndKeepsTheText) {
    const char* accepted[] = {"200 hello\r\n", "200 user ok\r\n", "200 pass ok\r\n"};
    const char* commands[] = {"user taro\r\n", "pass old pw\r\n", "newpass new!pw\r\n"};
    for (int step = 0; step < 4; step++) {
        std::string replies, expected;
        for (int i = 0; i < step; i++) {
            replies += accepted[i];
            expected += commands[i];
        }
        replies += "500 \t Old password is incorrect.\r\n200 Bye.\r\n";
        expected += "QUIT\r\n";
        for (size_t piece : kPieces) {
            Fed r = Feed(replies, piece);
            EXPECT_EQ(r.sent, expected) << step << "/" << piece;
            EXPECT_EQ(r.step, kPoppassdRefused) << step << "/" << piece;
            EXPECT_EQ(r.over, 1) << step << "/" << piece;
            EXPECT_EQ(r.refusal, "Old password is incorrect.") << step << "/" << piece;
        }
    }
    // The reply to QUIT, whatever it says, neither overwrites the text nor
    // turns a changed password into a failure.
    Fed refused = Feed("200 a\r\n400 first\r\n500 second\r\n", 3);
    EXPECT_EQ(refused.refusal, "first");
    EXPECT_EQ(refused.sent, "user taro\r\nQUIT\r\n");
    Fed changed = Feed("200 a\r\n200 b\r\n200 c\r\n200 d\r\n500 bye\r\n", 3);
    EXPECT_EQ(changed.step, kPoppassdChanged);
    EXPECT_EQ(changed.refusal, "");
}

TEST(PoppassdExchange, EverySplitGivesTheSameResult) {
    const std::string replies = "200 a\r\n200 b\r\n500 New password required.\r\n200 Bye.\r\n";
    Fed whole = Feed(replies, replies.size());
    for (size_t cut = 1; cut < replies.size(); cut++) {
        PoppassdExchange x;
        x.user = "u";
        std::string sent;
        x.send = Collect;
        x.sendContext = &sent;
        int over = poppassd_feed(x, replies.data(), cut);
        if (!over) over = poppassd_feed(x, replies.data() + cut, replies.size() - cut);
        EXPECT_EQ(over, 1) << cut;
        EXPECT_EQ(x.step, whole.step) << cut;
        EXPECT_STREQ(x.refusal, "New password required.") << cut;
    }
}

TEST(PoppassdExchange, OverlongLineIsOneLineAndItsTextIsBounded) {
    // The tail of the long line must not pass for a reply of its own.
    std::string longAccept = "200 " + std::string(5000, 'x') + "200 trailing\r\n";
    Fed r = Feed(longAccept + "200 b\r\n", 4096);
    EXPECT_EQ(r.sent, "user taro\r\npass old pw\r\n");
    EXPECT_EQ(r.step, kPoppassdPassSent);

    // Two-byte characters across the 300-byte limit of the stored text.
    std::string kanji;
    for (int i = 0; i < 3000; i++) kanji += "\x82\xa0";
    Fed refused = Feed("500 " + kanji + "\r\n", 1);
    EXPECT_EQ(refused.step, kPoppassdRefused);
    EXPECT_EQ(refused.refusal.size(), 298u);
    EXPECT_EQ(refused.refusal, kanji.substr(0, 298));
}

TEST(PoppassdExchange, RefusalTextStartsAfterTheCode) {
    char text[kPoppassdRefusalSize];
    poppassd_refusal_text("500", text);
    EXPECT_STREQ(text, "");
    poppassd_refusal_text("500-PAM error: x", text);
    EXPECT_STREQ(text, "PAM error: x");
    poppassd_refusal_text("500 \x83\x70\x83\x58", text);
    EXPECT_STREQ(text, "\x83\x70\x83\x58");
    // A two-byte character over the fourth and fifth bytes is skipped whole,
    // not copied from its trail byte.
    poppassd_refusal_text("50\x20\x83\x70 text", text);
    EXPECT_STREQ(text, "text");
    poppassd_refusal_text("500\x83", text);
    EXPECT_STREQ(text, "");
}

TEST(PoppassdExchange, InputsThatWouldBreakTheCommandLineAreNeverSent) {
    const std::string accept = "200 a\r\n200 b\r\n200 c\r\n200 d\r\n200 Bye\r\n";
    Fed r = Feed(accept, 5, "taro", "old", "x\r\nuser root");
    EXPECT_EQ(r.sent, "user taro\r\npass old\r\nQUIT\r\n");
    EXPECT_EQ(r.step, kPoppassdRefused);
    EXPECT_EQ(r.refusal, "");
    EXPECT_EQ(r.over, 1);

    std::string huge(5000, 'p');
    Fed longUser = Feed(accept, 4096, huge.c_str());
    EXPECT_EQ(longUser.sent, "QUIT\r\n");
    EXPECT_EQ(longUser.step, kPoppassdRefused);
}

} // namespace
