#include "admin/shared_book_file.h"

#include <gtest/gtest.h>
#include <string>

namespace {

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
