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
using R = const Record&;

size_t Size(R k, size_t i) {
    return std::stoul(k.at(i), nullptr, 0);
}

// What fn(buffer, capacity) writes into a buffer of "#"s, so that a write
// past the capacity shows; fn gives the length it wrote.
template <typename F> std::string Written(size_t capacity, F fn) {
    char at[80];
    std::memset(at, '#', sizeof at);
    const size_t n = fn(at, capacity);
    EXPECT_EQ(n, std::strlen(at));
    EXPECT_EQ(at[capacity], '#');
    return at;
}

// Case files whose records end in what a helper makes of their first
// fields (how many is given).
TEST(TextTables, EachRecordEndsInWhatTheHelperMakesOfIt) {
    const std::tuple<const char*, size_t, std::function<Record(R)>> kTables[] = {
        {"cases/address.ref", 2,
         [](R k) {
             return Record{Written(Size(k, 1), [&](char* o, size_t n) {
                 return ExtractAddress(o, k[0].c_str(), n);
             })};
         }},
        {"cases/valid_address.ref", 1,
         [](R k) { return Record{std::to_string(ValidAddress(k[0].c_str()))}; }},
        {"cases/blanks.ref", 3,
         [](R k) {
             return Record{Written(Size(k, 2), [&](char* o, size_t n) {
                 return Blanks(o, static_cast<unsigned>(Size(k, 0)), std::stoi(k[1]), n);
             })};
         }},
        {"cases/path_part.ref", 1,
         [](R k) {
             std::string stripped = k[0], folder = k[0];
             const int cut = StripExtension(stripped.data()), up = FolderPart(folder.data());
             EXPECT_EQ(cut, stripped != k[0] ? 1 : 0);
             EXPECT_EQ(up, folder != k[0] ? 1 : 0);
             return Record{stripped.c_str(), Extension(k[0].c_str()), FileNamePart(k[0].c_str()),
                           folder.c_str()};
         }},
        {"cases/copy_until.ref", 3,
         [](R k) {
             const char* next = nullptr;
             const std::string copied = Written(Size(k, 2), [&](char* o, size_t n) {
                 next = CopyUntil(o, k[0].c_str(), k[1].c_str(), n);
                 return std::strlen(o);
             });
             return Record{copied, std::to_string(next - k[0].c_str())};
         }},
        {"cases/read_line.ref", 2,
         [](R k) {
             std::string lines;
             for (const char* p = k[0].c_str(); *p != '\0';)
                 lines += Written(Size(k, 1),
                                  [&](char* o, size_t n) {
                                      p = ReadLine(o, p, n);
                                      return std::strlen(o);
                                  }) +
                          "|";
             return Record{lines};
         }},
        {"cases/prefix_equal.ref", 3,
         [](R k) {
             const int n = std::stoi(k[2]);
             return Record{std::to_string(PrefixEqualNoCase(k[0].c_str(), k[1].c_str(), n)),
                           std::to_string(PrefixEqual(k[0].c_str(), k[1].c_str(), n))};
         }},
        {"cases/parse_int.ref", 1,
         [](R k) {
             const char* end = nullptr;
             const int value = ParseInt(k[0].c_str(), &end);
             return Record{std::to_string(value), std::to_string(end - k[0].c_str())};
         }},
        {"cases/url_encode.ref", 2, [](R k) {
             return Record{Written(
                 Size(k, 1), [&](char* o, size_t n) { return UrlEncode(o, k[0].c_str(), n); })};
         }}};
    for (const auto& [file, inputs, f] : kTables)
        for (const auto& k : SERVER_CASES(file)) {
            ASSERT_GT(k.size(), inputs) << file << ": " << k[0];
            EXPECT_EQ(f(k), Record(k.begin() + inputs, k.end())) << file << ": " << k[0];
        }
}

TEST(TextBuilderTest, NumbersAsPrintfWritesThemCutsOnWholeCharacters) {
    for (const auto& k : SERVER_CASES("cases/numbers.ref")) {
        const long value = std::stol(k.at(0));
        char expected[32];
        snprintf(expected, sizeof expected, k.at(3).c_str(), value);
        TextBuilder<32> b;
        b.Number(value, std::stoi(k.at(1)), k.at(2).at(0));
        EXPECT_STREQ(b.c_str(), expected) << value;
    }
    // A cut keeps whole characters and drops all that follows, so a later
    // short piece cannot stand where a longer one was cut.
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

TEST(CharClassTest, LinkChars) {
    for (const char* s = "aZ09/.-_@~:?#=&%,"; *s; ++s) EXPECT_TRUE(IsLinkChar(*s)) << *s;
    for (const char* s = " \"<>()\\;*+\x81\xe0"; *s; ++s) EXPECT_FALSE(IsLinkChar(*s)) << *s;
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
