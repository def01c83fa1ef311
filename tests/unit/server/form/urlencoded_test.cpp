#include "server/request/request_test_util.h"
#include "server/server_cases.h"

namespace {

using request_test::Post;
using request_test::Trace;

class UrlencodedTest : public request_test::RequestTest {
protected:
    Trace PostBody(const std::string& body) { return FeedEveryWay(Post("/mail/new/", "", body)); }
};

// Values reach the page's field handler decoded.
TEST_F(UrlencodedTest, PercentDecodingOfValues) {
    for (const auto& k : SERVER_CASES("cases/urlencoded_fields.ref")) {
        SCOPED_TRACE(k.at(0));
        EXPECT_EQ(PostBody(k.at(0)).fieldCalls, std::vector<std::string>(k.begin() + 1, k.end()));
    }
}

TEST_F(UrlencodedTest, LoginSlotsDeleteMarksAndListTime) {
    Trace t = PostBody(
        "a=yamada&b=pa%20ss%3A1&delete_a12=on&delete_b15=on&delete_c7&list_time=1700000000");
    EXPECT_EQ(t.formSlots[0], "yamada");
    EXPECT_EQ(t.formSlots[2], "pa ss:1");
    EXPECT_EQ(t.deleteList, "a12,b15,c7,");
    EXPECT_EQ(t.listTimeField, 1700000000);

    EXPECT_EQ(PostBody("list_time=x5").listTimeField, 0);
    EXPECT_EQ(PostBody("list_time=").listTimeField, 0);
    EXPECT_EQ(PostBody("list_time=42x").listTimeField, 42);

    // Slots keep 39 bytes and never end in half a two-byte character.
    Trace bounded =
        PostBody("a=" + std::string(50, 'x') + "&b=" + std::string(38, 'y') + "%82%A0z");
    EXPECT_EQ(bounded.formSlots[0], std::string(39, 'x'));
    EXPECT_EQ(bounded.formSlots[2], std::string(38, 'y'));
}

TEST_F(UrlencodedTest, MessageTextRunsUntilARecognisedFieldOrUpload) {
    Trace three = PostBody("send_to=x&message=line1%0D%0Aline2%0D%0A%0D%0Aline3&upload1=");
    EXPECT_EQ(three.messageText, "line1\r\nline2\r\n\r\nline3\r\n");

    // Continuation lines belong to the message; a line with a field prefix
    // goes to its handler (its value ended at a line break) and the message
    // continues after it.
    Trace mixed =
        PostBody("message=Dear+all%0D%0Auser_x=1%0D%0Ax%3Dy%0D%0Aupload%0D%0Alost&send_cc=c");
    EXPECT_EQ(mixed.messageText, "Dear all\r\nx=y\r\n");
    EXPECT_EQ(mixed.fieldCalls, (std::vector<std::string>{"user:x=1 (broken)", "send:cc=c"}));

    // An empty message is one empty line.
    EXPECT_EQ(PostBody("message=&send_to=a").messageText, "\r\n");
}

// A body line is handed on in pieces of at most 4095 bytes; a piece never
// ends in the first byte of a two-byte character.
TEST_F(UrlencodedTest, LongLinesAreCutIntoPieces) {
    for (size_t length : {4095u, 4096u, 5000u}) {
        SCOPED_TRACE(length);
        std::string line = "message=" + std::string(length - 8, 'm');
        std::string expected = line.substr(8, 4087) + "\r\n";
        if (length > 4095) expected += line.substr(4095) + "\r\n";
        EXPECT_EQ(PostBody(line + "%0D%0A").messageText, expected);
    }
    // The two-byte character at bytes 4094 and 4095 moves to the next piece.
    Trace pair = PostBody("message=" + std::string(4086, 'm') + "%82%A0tail");
    EXPECT_EQ(pair.messageText, std::string(4086, 'm') + "\r\n\x82\xA0tail\r\n");
}

} // namespace
