#include "admin/csv_file.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

// "山田" in both encodings.
const std::string kYamadaSjis = "\x8E\x52\x93\x63";
const std::string kYamadaUtf8 = "\xE5\xB1\xB1\xE7\x94\xB0";

Lines Decode(const std::string& bytes, bool* utf8 = nullptr) {
    CsvText t;
    EXPECT_EQ(decode_csv_text(bytes, t), 0u) << bytes;
    if (utf8) *utf8 = t.utf8;
    return t.lines;
}

TEST(CsvFile, LineEndsCrLfOrLfAndAFinalLineWithoutEnd) {
    EXPECT_EQ(Decode("a,b\r\nc,d\ne"), (Lines{"a,b", "c,d", "e"}));
    // A final line end adds no line; empty lines stay for the caller to judge.
    EXPECT_EQ(Decode("a\r\n\r\nb\n"), (Lines{"a", "", "b"}));
    // Stray CRs are dropped wherever they are; a NUL ends the line's content.
    EXPECT_EQ(Decode(std::string("a\rb\nc\0d\ne", 9)), (Lines{"ab", "c", "e"}));
    EXPECT_EQ(Decode(""), Lines{});
}

TEST(CsvFile, Utf8WithOrWithoutMarkBecomesShiftJis) {
    bool utf8 = false;
    EXPECT_EQ(Decode("\xEF\xBB\xBF" + kYamadaUtf8 + ",t@b.c\r\n", &utf8),
              (Lines{kYamadaSjis + ",t@b.c"}));
    EXPECT_TRUE(utf8);
    EXPECT_EQ(Decode("x," + kYamadaUtf8 + "\n", &utf8), (Lines{"x," + kYamadaSjis}));
    EXPECT_TRUE(utf8);
    // A mark in front of plain ASCII is removed too.
    EXPECT_EQ(Decode("\xEF\xBB\xBFtaro,t@b.c", &utf8), (Lines{"taro,t@b.c"}));
}

TEST(CsvFile, ShiftJisIsKeptAsItIs) {
    bool utf8 = true;
    // "ソ" (0x83 0x5C) has a backslash as second byte and is not valid UTF-8.
    std::string sjis = kYamadaSjis + "\x83\x5C,\xB1\n";
    EXPECT_EQ(Decode(sjis, &utf8), (Lines{kYamadaSjis + "\x83\x5C,\xB1"}));
    EXPECT_FALSE(utf8);
    EXPECT_FALSE(looks_like_utf8("plain ascii"));
    EXPECT_FALSE(looks_like_utf8("\xC0\xAF"));               // overlong "/"
    EXPECT_FALSE(looks_like_utf8("\xED\xA0\x80"));           // surrogate
    EXPECT_FALSE(looks_like_utf8(kYamadaUtf8.substr(0, 5))); // cut short
}

TEST(CsvFile, UnconvertibleUtf8LineIsNamed) {
    CsvText t;
    // A marked file with an emoji on line 2, and one with a broken sequence.
    EXPECT_EQ(decode_csv_text("\xEF\xBB\xBFok\n\xF0\x9F\x98\x80\n", t), 2u);
    EXPECT_EQ(decode_csv_text("\xEF\xBB\xBFok\nok\n\xE5\xB1\n", t), 3u);
}

TEST(CsvFile, LongLinesAreCutWithoutSplittingACharacter) {
    Lines l = Decode(std::string(298, 'a') + kYamadaSjis + "\n" + std::string(400, 'b'));
    ASSERT_EQ(l.size(), 2u);
    EXPECT_EQ(l[0], std::string(298, 'a'));
    EXPECT_EQ(l[1], std::string(kCsvLineBytes, 'b'));
}

TEST(CsvFile, QuotedCommasStayInOneColumnWithoutQuotes) {
    using Cols = std::vector<std::string>;
    EXPECT_EQ(split_csv_columns("a,\"b,c\",d"), (Cols{"a", "b,c", "d"}));
    EXPECT_EQ(split_csv_columns(""), (Cols{""}));
    EXPECT_EQ(split_csv_columns("a,,"), (Cols{"a", "", ""}));
    // Doubled quotes are quote characters too, and never copied.
    EXPECT_EQ(split_csv_columns("\"say \"\"hi\"\"\",x"), (Cols{"say hi", "x"}));
    // An unclosed quote keeps the rest of the line together.
    EXPECT_EQ(split_csv_columns("\"a,b"), (Cols{"a,b"}));
}

} // namespace
