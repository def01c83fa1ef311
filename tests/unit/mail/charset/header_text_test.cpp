#include <gtest/gtest.h>

#include <string>

#include "charset_test_util.h"
#include "mail/charset/header_text.h"

using charset_test::heap_copy;
using charset_test::heap_cstr;

namespace {

std::string copy(const std::string& src, int size) {
    auto s = heap_cstr(src);
    auto d = heap_copy("", static_cast<std::size_t>(size));
    const int n = copy_header_text(d.get(), s.get(), size);
    EXPECT_EQ(n, static_cast<int>(std::strlen(d.get())));
    EXPECT_LT(n, size);
    return d.get();
}

} // namespace

TEST(CharsetCopyHeaderText, WidensKatakanaAndComposesMarks) {
    struct Case {
        std::string src;
        int size;
        std::string out;
    };
    const Case cases[] = {
        {"abc", 10, "abc"},
        {"\xB1", 10, "\x83\x41"},                     // ｱ -> ア
        {"\xB6\xDE", 10, "\x83\x4B"},                 // ｶﾞ -> ガ
        {"\xCA\xDF", 10, "\x83\x70"},                 // ﾊﾟ -> パ
        {"\xCE\xDE\xCE\xDF", 10, "\x83\x7B\x83\x7C"}, // ﾎﾞﾎﾟ -> ボポ
        {"\xB3\xDE", 10, "\x83\x45\x81\x4A"},         // ｳﾞ stays ウ゛
        {"\xB6\xDF", 10, "\x83\x4A\x81\x4B"},         // ｶﾟ has no combined form
        {"\xC5\xDE", 10, "\x83\x69\x81\x4A"},         // ﾅﾞ neither
        {"\xDE\xDE", 10, "\x81\x4A\x81\x4A"},
        {"\xB1", 2, ""}, // no room for the widened form
        {"\xB1", 3, "\x83\x41"},
        {"a\xB1z", 3, "a"},
        {"a\x82\xA0", 3, "a"}, // a two-byte character is never split
        {"a\x82\xA0", 4, "a\x82\xA0"},
        {"a\x82", 10, "a"},                       // lone lead at the end
        {"\x0E\x36\x5E\x0F!", 10, "\x83\x4B!"},   // SO ｶﾞ SI
        {"\x0E\x21\x60\x0F", 10, "\x81\x42\x60"}, // only 0x21-0x5F shift
        {"abc", 1, ""},
    };
    for (const Case& c : cases) EXPECT_EQ(copy(c.src, c.size), c.out) << c.src << " " << c.size;
    char fixed[5];
    EXPECT_EQ(copy_header_text(fixed, "\xB1\xB2\xB3"), 4);
    EXPECT_EQ(copy_header_text(fixed, nullptr), 0);
}

// Widening must respect the room at every size, including a mark that would
// be composed with a character that no longer fits.
TEST(CharsetCopyHeaderText, EverySizeStaysInBounds) {
    const std::string src = "x\xB6\xDE\x82\xA0\x0E\x36\x5E\x0F\xCA\xDF\xB3\xDE.";
    const std::string full = copy(src, 64);
    for (int size = 1; size <= 64; ++size) {
        const std::string part = copy(src, size);
        EXPECT_EQ(full.compare(0, part.size(), part), 0) << size;
    }
}
