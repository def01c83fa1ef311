#include "mail/book/address_book.h"
#include "mail/book/book_entries.h"
#include "server/route/page_fixture.h"

#include <string>
#include <utility>
#include <vector>

namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

Pairs Read(std::string_view text) {
    Pairs out;
    for_each_book_entry(text, [&](const char* entry, size_t n) {
        BookEntryParts p = book_entry_parts(entry, n);
        out.emplace_back(std::string(p.name, p.nameLength),
                         std::string(p.address, p.addressLength));
    });
    return out;
}

TEST(BookEntries, NamesAndAddressesAsTheReadersTakeThem) {
    EXPECT_EQ(Read(",Taro  <t@b.c>"), (Pairs{{"Taro", "t@b.c"}}));
    EXPECT_EQ(Read("<h@b.c>,\tHana\t<h@x.jp >"), (Pairs{{"", "h@b.c"}, {"\tHana", "h@x.jp"}}));
    // Hand-made text without brackets is a bare address, not a name.
    EXPECT_EQ(Read("  t@b.c,,"), (Pairs{{"", "t@b.c"}}));
    EXPECT_EQ(Read("Open <o@b.c"), (Pairs{{"Open", "o@b.c"}}));
    EXPECT_EQ(Read(""), Pairs{});
    // A second byte 0x40 ("@") inside a name is part of its character.
    EXPECT_EQ(Read("\x81\x40\x88\xA2 <k@b.c>"), (Pairs{{"\x81\x40\x88\xA2", "k@b.c"}}));
}

TEST(BookEntries, NameCheckRefusesWhatWouldBreakTheList) {
    for (const char* bad : {"A,B", "A<", "B>", "(C", "D)", "t@b"})
        EXPECT_FALSE(IsValidBookName(bad)) << bad;
    for (const char* good : {"", "Taro Yamada", "\x81\x40", "\x83\x40\x83\x43"})
        EXPECT_TRUE(IsValidBookName(good)) << good;
}

class SharedBook : public PageTest {};

TEST_F(SharedBook, LoadsCommaAndLineSeparatedEntries) {
    WriteFile(home + "/user/common.adb", "A<a@b.c>,\r\nB <b@b.c>");
    LoadSharedBook();
    const std::string* text = shared_address_book();
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(Read(*text), (Pairs{{"A", "a@b.c"}, {"B", "b@b.c"}}));

    std::filesystem::remove(home + "/user/common.adb");
    LoadSharedBook();
    EXPECT_EQ(shared_address_book(), nullptr);
}

} // namespace
