#include "server/form/form_reader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

struct ConnectionHolder {
    Connection* c = NewConnection(-1);
    ~ConnectionHolder() { FreeConnection(c); }
};

void FeedFormLine(Connection& c, const std::string& line) {
    memcpy(c.line, line.c_str(), line.size() + 1);
    FormLine(c);
}

TEST(FormLimitsTest, MessageTextKeepsWholeLinesUpToItsLimit) {
    ConnectionHolder h;
    Connection& c = *h.c;
    const std::string line(3998, 'x');
    for (int i = 0; i < 31; ++i) AppendMessage(c, line.c_str());
    ASSERT_EQ(c.messageLength, 31 * 4000);
    AppendMessage(c, line.c_str()); // 128000 bytes would not fit
    EXPECT_EQ(c.messageLength, 31 * 4000);
    AppendMessage(c, std::string(3982, 'y').c_str()); // exactly 127984
    EXPECT_EQ(c.messageLength, kMessageTextLimit);
    AppendMessage(c, "");
    EXPECT_EQ(c.messageLength, kMessageTextLimit);
    EXPECT_EQ(std::string(c.messageText + kMessageTextLimit - 4), "yy\r\n");
}

TEST(FormLimitsTest, LineEndAtTheStartAddsOnlyTheBreak) {
    ConnectionHolder h;
    AppendMessage(*h.c, "\rstray");
    AppendMessage(*h.c, "ok");
    EXPECT_STREQ(h.c->messageText, "\r\nok\r\n");
}

TEST(FormLimitsTest, DeleteListStopsShortOfItsSize) {
    ConnectionHolder h;
    Connection& c = *h.c;
    c.bodyMode = kBodyUrlencoded;
    for (int i = 0; i < 700; ++i) FeedFormLine(c, "delete_a1234=on");
    EXPECT_EQ(strlen(c.deleteList), 682u * 6);
    FeedFormLine(c, "delete_c1=on"); // 4095 bytes with its comma
    FeedFormLine(c, "delete_c2=on");
    EXPECT_EQ(strlen(c.deleteList), 4095u);
    EXPECT_EQ(std::string(c.deleteList + 4086), "a1234,c1,");
}

} // namespace
