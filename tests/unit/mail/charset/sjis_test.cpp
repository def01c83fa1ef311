#include <gtest/gtest.h>

#include <string>

#include "charset_test_util.h"
#include "mail/charset/sjis.h"
#include "mail/mail_golden.h"

using charset_test::heap_copy;
using charset_test::heap_cstr;

TEST(CharsetSjis, LeadBytesAndShiftJisText) {
    for (const auto& t : mail_golden::ReadCases(GOLDEN_PATH("sjis_marks.cases"))) {
        EXPECT_EQ(is_sjis_lead(static_cast<unsigned char>(t.at(0)[0])), t.at(1) == "1") << t[0];
        if (t.size() > 2) {
            EXPECT_EQ(has_sjis(t[0].c_str()), std::stoi(t[2])) << t[0];
        }
    }
    EXPECT_TRUE(is_sjis_lead('\x81')); // plain char, negative here
    EXPECT_EQ(has_sjis(nullptr), 0);
}

TEST(CharsetSjis, FindSkipsTrailBytes) {
    EXPECT_EQ(sjis_find(nullptr, 'a'), -1);
    for (const auto& t : mail_golden::ReadCases(GOLDEN_PATH("sjis_find.ref")))
        EXPECT_EQ(sjis_find(t.at(0).c_str(), t.at(1)[0]), std::stoi(t.at(2))) << t[0];
}

TEST(CharsetSjis, CopyNeverSplitsACharacter) {
    for (const auto& t : mail_golden::ReadCases(GOLDEN_PATH("sjis_copy.ref"))) {
        const int size = std::stoi(t.at(1));
        auto dst = heap_copy("", static_cast<std::size_t>(size));
        EXPECT_EQ(sjis_copy(dst.get(), t.at(0).c_str(), size), static_cast<int>(t.at(2).size()));
        EXPECT_EQ(dst.get(), t.at(2)) << t[0] << " " << size;
    }
    auto dst = heap_copy("", 4);
    EXPECT_EQ(sjis_copy(dst.get(), nullptr, 4), 0);
    EXPECT_STREQ(dst.get(), "");
    char small[4];
    EXPECT_EQ(sjis_copy(small, "\x82\xA0\x82\xA2"), 2);
    EXPECT_EQ(sjis_copy(small, heap_cstr("xyz").get()), 3);
    EXPECT_EQ(sjis_copy(small, "a", 0), 0);
}
