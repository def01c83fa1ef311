#include "mail/charset/utf8_text.h"
#include "mail/mail_golden.h"

#include <gtest/gtest.h>

namespace {

TEST(Utf8Text, OnlyWellFormedReferencesAreCharacters) {
    for (const auto& t : mail_golden::ReadCases(GOLDEN_PATH("utf8_text.ref")))
        EXPECT_EQ(sjis_to_utf8(t.at(0).c_str(), t[0].size()), t.at(1)) << t[0];
    EXPECT_TRUE(has_character_references("x &#233;"));
    EXPECT_FALSE(has_character_references("x &#233"));
    EXPECT_FALSE(has_character_references("\x89\xef &amp;"));
}

} // namespace
