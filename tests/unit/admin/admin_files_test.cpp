#include "admin/csv_file.h"
#include "admin/shared_book_file.h"

#include <vector>

#include "server/server_cases.h"

namespace {

using Lines = std::vector<std::string>;

TEST(CsvFile, LinesTheirEncodingAndColumns) {
    for (const auto& c : SERVER_CASES("csv_lines.ref")) {
        CsvText t;
        ASSERT_EQ(decode_csv_text(c.at(0), t), std::stoul(c.at(2))) << c.at(0);
        if (c.at(1) == "-") continue;
        EXPECT_EQ(t.utf8, c.at(1) == "1") << c.at(0);
        EXPECT_EQ(t.lines, Lines(c.begin() + 3, c.end())) << c.at(0);
    }
    // Quoted commas stay in one column, without the quotes.
    for (const auto& c : SERVER_CASES("csv_columns.ref"))
        EXPECT_EQ(split_csv_columns(c.at(0)), Lines(c.begin() + 1, c.end())) << c.at(0);
}

TEST(SharedBookFile, SortLooksAtTheFirst39BytesOnly) {
    std::string common(38, 'x');
    // Both names share 38 bytes; the two-byte character after them would
    // cross the limit, so it is left out and the names tie.
    auto rows = parse_shared_book(common + "\x88\xA2<b@b.c>," + common + "\x88\x9F<a@b.c>," +
                                  common.substr(0, 37) + "a<c@b.c>");
    sort_shared_book(rows, false);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].address, "<c@b.c>");
    EXPECT_EQ(rows[1].address, "<b@b.c>");
    EXPECT_EQ(rows[2].address, "<a@b.c>");
}

} // namespace
