#include "admin/csv_file.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "server/server_cases.h"

namespace {

using Lines = std::vector<std::string>;

// "山田" in both encodings.
const std::string kYamadaSjis = "\x8E\x52\x93\x63";
const std::string kYamadaUtf8 = "\xE5\xB1\xB1\xE7\x94\xB0";

TEST(CsvFile, LinesAndTheirEncoding) {
    for (const auto& c : SERVER_CASES("csv_lines.ref")) {
        CsvText t;
        ASSERT_EQ(decode_csv_text(c.at(0), t), std::stoul(c.at(2))) << c.at(0);
        if (c.at(1) == "-") continue;
        EXPECT_EQ(t.utf8, c.at(1) == "1") << c.at(0);
        EXPECT_EQ(t.lines, Lines(c.begin() + 3, c.end())) << c.at(0);
    }
}

TEST(CsvFile, Utf8IsToldApart) {
    EXPECT_FALSE(looks_like_utf8("plain ascii"));
    EXPECT_FALSE(looks_like_utf8("\xC0\xAF"));               // overlong "/"
    EXPECT_FALSE(looks_like_utf8("\xED\xA0\x80"));           // surrogate
    EXPECT_FALSE(looks_like_utf8(kYamadaUtf8.substr(0, 5))); // cut short
}

TEST(CsvFile, LongLinesAreCutWithoutSplittingACharacter) {
    CsvText t;
    ASSERT_EQ(
        decode_csv_text(std::string(298, 'a') + kYamadaSjis + "\n" + std::string(400, 'b'), t), 0u);
    EXPECT_EQ(t.lines, (Lines{std::string(298, 'a'), std::string(kCsvLineBytes, 'b')}));
}

TEST(CsvFile, QuotedCommasStayInOneColumnWithoutQuotes) {
    for (const auto& c : SERVER_CASES("csv_columns.ref"))
        EXPECT_EQ(split_csv_columns(c.at(0)), Lines(c.begin() + 1, c.end())) << c.at(0);
}

} // namespace
