#include "mail/charset/utf8_text.h"

#include <gtest/gtest.h>

namespace {

TEST(Utf8Text, OnlyWellFormedReferencesAreCharacters) {
    const std::pair<const char*, const char*> cases[] = {
        {"Gr&#252;&#223;e", "Gr\xc3\xbc\xc3\x9f"
                            "e"},
        {"&#x1F389;&#X1f389;", "\xf0\x9f\x8e\x89\xf0\x9f\x8e\x89"},
        // Not references: they stay as typed.
        {"&#;&#x;&#12", "&#;&#x;&#12"},
        {"&#0;&#xD800;&#1114112;&#x110000;", "&#0;&#xD800;&#1114112;&#x110000;"},
        {"&amp; &#65", "&amp; &#65"},
        // Shift_JIS around references, a two-byte character whose trail is '&'
        // range-free, and a lone lead byte at the end.
        {"\x89\xef&#8364;\x8e\xba", "\xe4\xbc\x9a\xe2\x82\xac\xe5\xae\xa4"},
        {"\xb1", "\xef\xbd\xb1"},
        {"a\x81", "a\xef\xbf\xbd"},
    };
    for (auto [in, utf8] : cases) EXPECT_EQ(sjis_to_utf8(in, strlen(in)), utf8) << in;
    EXPECT_TRUE(has_character_references("x &#233;"));
    EXPECT_FALSE(has_character_references("x &#233"));
    EXPECT_FALSE(has_character_references("\x89\xef &amp;"));
}

} // namespace
