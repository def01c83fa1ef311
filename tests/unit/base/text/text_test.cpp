// The text helpers of the pages, on the case tables in cases/.
#include "base/console_text.h"
#include "base/text/address.h"
#include "base/text/blanks.h"
#include "base/text/char_class.h"
#include "base/text/messages.h"
#include "base/text/path_part.h"
#include "base/text/text_builder.h"
#include "base/text/text_copy.h"
#include "base/text/text_search.h"
#include "base/text/url_encode.h"
#include "server/server_cases.h"

#include <cstring>

namespace {

using server_cases::Record;

// The output buffer of a helper, filled with "#" so a write past its
// capacity shows.
struct Out {
    char at[80];
    Out() { std::memset(at, '#', sizeof at); }
};

size_t Size(const Record& k, size_t i) {
    return std::stoul(k.at(i), nullptr, 0);
}

TEST(ExtractAddressTest, BareAddressOfEntry) {
    for (const auto& k : SERVER_CASES("cases/address.ref")) {
        Out o;
        const size_t capacity = k.size() > 2 ? Size(k, 2) : 64;
        EXPECT_EQ(ExtractAddress(o.at, k.at(0).c_str(), capacity), k.at(1).size()) << k.at(0);
        EXPECT_EQ(o.at, k.at(1));
        EXPECT_EQ(o.at[capacity], '#');
    }
}

TEST(ValidAddressTest, Characters) {
    for (const auto& k : SERVER_CASES("cases/valid_address.ref"))
        EXPECT_EQ(ValidAddress(k.at(0).c_str()), k.at(1) == "1") << k.at(0);
}

TEST(BlanksTest, NbspForFlaggedBrowsers) {
    for (const auto& k : SERVER_CASES("cases/blanks.ref")) {
        Out o;
        const size_t capacity = Size(k, 2);
        EXPECT_EQ(Blanks(o.at, static_cast<unsigned>(Size(k, 0)), std::stoi(k.at(1)), capacity),
                  k.at(3).size());
        EXPECT_EQ(o.at, k.at(3));
        EXPECT_EQ(o.at[capacity], '#');
    }
}

TEST(PathPartTest, Pieces) {
    for (const auto& k : SERVER_CASES("cases/path_part.ref")) {
        SCOPED_TRACE(k.at(0));
        std::string stripped = k.at(0), folder = k.at(0);
        EXPECT_EQ(StripExtension(stripped.data()), k.at(1) != k.at(0) ? 1 : 0);
        EXPECT_STREQ(stripped.c_str(), k.at(1).c_str());
        EXPECT_STREQ(Extension(k.at(0).c_str()), k.at(2).c_str());
        EXPECT_STREQ(FileNamePart(k.at(0).c_str()), k.at(3).c_str());
        EXPECT_EQ(FolderPart(folder.data()), k.at(4) != k.at(0) ? 1 : 0);
        EXPECT_STREQ(folder.c_str(), k.at(4).c_str());
    }
}

TEST(TextBuilderTest, NumbersAsPrintfWritesThem) {
    for (const auto& k : SERVER_CASES("cases/numbers.ref")) {
        const long value = std::stol(k.at(0));
        char expected[32];
        snprintf(expected, sizeof expected, k.at(3).c_str(), value);
        TextBuilder<32> b;
        b.Number(value, std::stoi(k.at(1)), k.at(2).at(0));
        EXPECT_STREQ(b.c_str(), expected) << value;
    }
}

// A cut keeps whole characters and drops all that follows, so a later short
// piece cannot stand where a longer one was cut.
TEST(TextBuilderTest, ACutNeverSplitsAPairAndEndsTheText) {
    TextBuilder<6> b;
    b.Add("ab").Add("\x82\xa0\x82\xa2").Add("c");
    EXPECT_STREQ(b.c_str(), "ab\x82\xa0");
    EXPECT_EQ(b.size(), 4u);

    char field[8] = {'x', 'y', '\0', 'z', 'z', 'z', 'z', 'z'};
    TextBuilder<16> whole;
    whole.Add(field).Add('!');
    EXPECT_STREQ(whole.c_str(), "xy!");
    char unterminated[3] = {'p', 'q', 'r'};
    TextBuilder<16> bounded;
    bounded.Add(unterminated);
    EXPECT_STREQ(bounded.c_str(), "pqr");
}

TEST(CopyUntilTest, StopsAtDelimiterWithinCapacity) {
    for (const auto& k : SERVER_CASES("cases/copy_until.ref")) {
        Out o;
        const char* src = k.at(0).c_str();
        const size_t capacity = Size(k, 2);
        const char* next = CopyUntil(o.at, src, k.at(1).c_str(), capacity);
        EXPECT_EQ(o.at, k.at(3)) << src;
        EXPECT_EQ(next - src, std::stoi(k.at(4))) << src;
        EXPECT_EQ(o.at[capacity], '#') << src;
    }
}

TEST(ReadLineTest, SplitsLines) {
    for (const auto& k : SERVER_CASES("cases/read_line.ref")) {
        const size_t capacity = Size(k, 1);
        std::string lines;
        for (const char* p = k.at(0).c_str(); *p != '\0';) {
            Out line;
            p = ReadLine(line.at, p, capacity);
            EXPECT_EQ(line.at[capacity], '#');
            lines += std::string(line.at) + "|";
        }
        EXPECT_EQ(lines, k.at(2)) << k.at(0);
    }
}

TEST(PrefixEqualTest, ComparesFirstBytes) {
    for (const auto& k : SERVER_CASES("cases/prefix_equal.ref")) {
        const char *a = k.at(0).c_str(), *b = k.at(1).c_str();
        const int n = std::stoi(k.at(2));
        EXPECT_EQ(PrefixEqualNoCase(a, b, n), std::stoi(k.at(3))) << a << " " << n;
        EXPECT_EQ(PrefixEqual(a, b, n), std::stoi(k.at(4))) << a << " " << n;
    }
}

TEST(ParseIntTest, ValuesAndEnds) {
    for (const auto& k : SERVER_CASES("cases/parse_int.ref")) {
        const char* text = k.at(0).c_str();
        const char* end = nullptr;
        EXPECT_EQ(ParseInt(text, &end), std::stoi(k.at(1))) << text;
        EXPECT_EQ(end - text, std::stoi(k.at(2))) << text;
    }
}

TEST(CharClassTest, LinkChars) {
    for (const char* s = "aZ09/.-_@~:?#=&%,"; *s; ++s) EXPECT_TRUE(IsLinkChar(*s)) << *s;
    for (const char* s = " \"<>()\\;*+\x81\xe0"; *s; ++s) EXPECT_FALSE(IsLinkChar(*s)) << *s;
}

TEST(UrlEncodeTest, EscapesOutsideKeptRange) {
    for (const auto& k : SERVER_CASES("cases/url_encode.ref")) {
        Out o;
        const size_t capacity = Size(k, 1);
        EXPECT_EQ(UrlEncode(o.at, k.at(0).c_str(), capacity), k.at(2).size()) << k.at(0);
        EXPECT_EQ(o.at, k.at(2)) << k.at(0);
        EXPECT_EQ(o.at[capacity], '#') << k.at(0);
    }
}

TEST(MessageTable, EveryJapaneseTextIsShiftJisOfItsOwnCharacters) {
    for (int i = 0; i < kMessageCount; i++) {
        if (i == 130) continue; // unused, and empty
        std::string sjis = Message(i, 0);
        ASSERT_FALSE(sjis.empty()) << i;
        // A round trip back to UTF-8 must not lose a character.
        EXPECT_EQ(sjis_to_utf8(sjis).find('?'), std::string::npos) << i;
        EXPECT_FALSE(std::string(Message(i, 1)).empty()) << i;
    }
    // The wave dash of the entry-area limits is the Shift_JIS full-width
    // tilde, which a Unicode conversion easily gets wrong.
    EXPECT_NE(std::string(Message(73, 0)).find("\x81\x60"), std::string::npos);
}

} // namespace
