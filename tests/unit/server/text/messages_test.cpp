#include "base/console_text.h"
#include "server/text/messages.h"
#include <gtest/gtest.h>
#include <string>

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
