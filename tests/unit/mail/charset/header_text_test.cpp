#include <gtest/gtest.h>

#include <string>

#include "charset_test_util.h"
#include "mail/charset/header_text.h"
#include "mail/mail_golden.h"

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
    for (const auto& t : mail_golden::ReadCases(GOLDEN_PATH("header_text.ref")))
        EXPECT_EQ(copy(t.at(0), std::stoi(t.at(1))), t.at(2)) << t[0] << " " << t[1];
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
