#include "mail/charset/charset_test_util.h"
#include "mail/compose/stream_jis.h"
#include "mail/mail_golden.h"

#include <gtest/gtest.h>
#include <string>

namespace {

std::string Jis(const std::string& sjis) {
    std::string out;
    {
        SmtpStage stage(-1, nullptr, &out);
        StreamJis(stage, sjis.data(), sjis.size());
    }
    return out;
}

TEST(StreamJis, RunsEscapedKanaWidenedDotsDoubled) {
    for (const auto& t : mail_golden::ReadCases(GOLDEN_PATH("stream_jis.ref")))
        EXPECT_EQ(Jis(t.at(0)), t.at(1)) << t[0];
}

TEST(StreamJis, LongLinesAreFoldedWithinTheSmtpLimit) {
    const std::string ascii(2500, 'a');
    auto lines = charset_test::crlf_lines(Jis(ascii + "\r\n"));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].size(), 998u);
    EXPECT_EQ(lines[0] + lines[1] + lines[2], ascii);

    // A folded two-byte run is closed before each break and reopened after
    // it, so every line decodes alone.
    std::string kanji;
    for (int i = 0; i < 1200; i++) kanji += "\x88\x9F";
    lines = charset_test::crlf_lines(Jis(kanji + "\r\n"));
    ASSERT_GE(lines.size(), 3u);
    size_t pairs = 0;
    for (const std::string& line : lines) {
        EXPECT_LE(line.size(), 998u);
        ASSERT_EQ(line.substr(0, 3), "\x1B$B");
        ASSERT_EQ(line.substr(line.size() - 3), "\x1B(B");
        pairs += (line.size() - 6) / 2;
    }
    EXPECT_EQ(pairs, 1200u);

    // A dot that a fold brings to the start of a line is doubled too.
    lines = charset_test::crlf_lines(Jis(std::string(998, 'b') + ".c\r\n"));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], "..c");
}

} // namespace
