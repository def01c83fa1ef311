#include "server/text/text_copy.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

// Two-byte characters whose second byte is an ASCII delimiter.
#define SO_5C "\x83\x5c"    // katakana SO, second byte "\"
#define SPACE_40 "\x81\x40" // ideographic space, second byte "@"

TEST(CopyUntilTest, StopsAtDelimiterWithinCapacity) {
    const struct {
        const char* src;
        const char* delimiters;
        size_t capacity;
        const char* copied;
        int next; // offset of the returned position
    } cases[] = {
        {"name: value", ":", 16, "name", 5},
        {"abc", ",", 16, "abc", 3},
        {"abcdef,g", ",", 4, "abc", 7}, // cut, rest skipped to the delimiter
        {"a" SO_5C "b\\c", "\\", 16, "a" SO_5C "b", 5},
        {SPACE_40 "x@y", "@", 16, SPACE_40 "x", 4},
        {"a" SO_5C "b", ",", 3, "a", 4}, // a pair is never cut
        {"\x83,b", ",", 16, "\x83", 2},  // a stray lead byte does not hide the delimiter
    };
    for (const auto& c : cases) {
        char dst[32];
        std::memset(dst, '#', sizeof dst);
        const char* next = CopyUntil(dst, c.src, c.delimiters, c.capacity);
        EXPECT_STREQ(dst, c.copied) << c.src;
        EXPECT_EQ(next - c.src, c.next) << c.src;
        EXPECT_EQ(dst[c.capacity], '#') << c.src;
    }
}

// All lines read with the given capacity, each followed by "|".
std::string ReadAll(const char* text, size_t capacity) {
    std::string lines;
    char line[16];
    for (const char* p = text; *p != '\0';) {
        std::memset(line, '#', sizeof line);
        p = ReadLine(line, p, capacity);
        EXPECT_EQ(line[capacity], '#');
        lines += std::string(line) + "|";
    }
    return lines;
}

TEST(ReadLineTest, SplitsLines) {
    const struct {
        const char* text;
        size_t capacity;
        const char* lines;
    } cases[] = {
        {"a\r\nbc", 8, "a|bc|"},          // last line without line feed
        {"\n\r\nx", 8, "||x|"},           // empty lines
        {"a\rb\n", 8, "ab|"},             // carriage returns anywhere are dropped
        {"abcdefgh\n", 4, "abc|def|gh|"}, // a cut line continues
        {"abc\r\n", 4, "abc|"},           // exact fit is not a cut
        {"ab" SO_5C "\n", 4, "ab|" SO_5C "|"},
        {"\x83\nx", 8, "\x83|x|"}, // a stray lead byte does not eat the line feed
    };
    for (const auto& c : cases) EXPECT_EQ(ReadAll(c.text, c.capacity), c.lines) << c.text;

    char line[16];
    const char* text = "ab\ncd";
    EXPECT_EQ(ReadLine(line, text), text + 3);
    EXPECT_EQ(ReadLine(line, text + 3), text + 5);
}

} // namespace
