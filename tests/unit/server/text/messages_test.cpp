#include "host/console_text.h"
#include "server/text/messages.h"
#include <cstdio>
#include <gtest/gtest.h>
#include <string>

TEST(MessageTable, EveryJapaneseTextIsShiftJisOfItsOwnCharacters) {
    for (int i = 0; i < kMessageCount; i++) {
        if (i == 130) continue;
        std::string sjis = Message(i, 0);
        ASSERT_FALSE(sjis.empty()) << i;
        // A round trip back to UTF-8 must not lose a character.
        EXPECT_EQ(sjis_to_utf8(sjis).find('?'), std::string::npos) << i;
        EXPECT_FALSE(std::string(Message(i, 1)).empty()) << i;
    }
}

TEST(MessageTable, TextsKeepTheirExactBytes) {
    char buf[200];
    snprintf(buf, sizeof buf, Message(26, 1), "taro");
    EXPECT_STREQ(buf, "List of Received Mail of taro");
    snprintf(buf, sizeof buf, Message(26, 0), "taro");
    EXPECT_EQ(sjis_to_utf8(buf), "taro さんの受信メール一覧");
    EXPECT_STREQ(Message(8, 1), "Old Password          ");
    EXPECT_EQ(Message(118, 1)[0], ' ');
    EXPECT_STREQ(
        Message(112, 1),
        "Could not connect to the %s server.\r\nThe %s server is down or is not responding.");
    // The wave dash of the entry-area limits is the Shift_JIS full-width tilde.
    EXPECT_NE(std::string(Message(73, 0)).find("\x81\x60"), std::string::npos);
    EXPECT_STREQ(Message(130, 0), "");
}
