#include "base/text/percent_decode.h"
#include "server/request/request_test_util.h"

namespace {

using Decoder = void (*)(char*, const char*, size_t);

std::string Decode(Decoder decode, const std::string& src, size_t capacity) {
    char dst[80];
    memset(dst, '#', sizeof dst);
    decode(dst, src.c_str(), capacity);
    EXPECT_EQ(dst[capacity], '#') << "wrote past the capacity";
    return dst;
}

TEST(PercentDecodeTest, EscapesBoundsAndUtf8) {
    for (const auto& k : SERVER_CASES("cases/percent_decode.ref")) {
        const size_t capacity = std::stoul(k.at(2));
        if (k.at(0) != "utf8") {
            EXPECT_EQ(Decode(PercentDecode, k.at(1), capacity), k.at(3)) << k.at(1);
        }
        if (k.at(0) != "plain") {
            EXPECT_EQ(Decode(PercentDecodeUtf8, k.at(1), capacity), k.at(3)) << k.at(1);
        }
    }
    for (Decoder decode : {PercentDecode, PercentDecodeUtf8}) {
        char untouched = '#';
        decode(&untouched, "abc", 0);
        EXPECT_EQ(untouched, '#');
    }
}

namespace fs = std::filesystem;

class MultipartTest : public request_test::RequestTest {
protected:
    void SetUp() override {
        RequestTest::SetUp();
        AddUser("yamada", "secret");
    }
};

TEST_F(MultipartTest, FileNamesKeepTheirLastComponent) {
    EXPECT_GOLDEN("uploads.ref", TracesOf(GOLDEN_PATH("cases/uploads.cases")));
}

TEST_F(MultipartTest, LoginCarriedInTheUrl) {
    session_insert("yamada", 77, "00112233445566778899aabbccddeeff", local_seconds());
    AddUser("bob", "pw");
    EXPECT_GOLDEN("login_in_url.ref", TracesOf(GOLDEN_PATH("cases/login_in_url.cases")));
}

// Whole posts and the trace each leaves. Files are written only below the
// temp folder.
TEST_F(MultipartTest, PostsAndTheirTraces) {
    AddUser("..", "pw");
    AddUser("a/b", "pw");
    EXPECT_GOLDEN("posts.ref", TracesOf(GOLDEN_PATH("cases/posts.cases")));
    std::vector<std::string> top;
    for (const auto& e : fs::directory_iterator(home)) top.push_back(e.path().filename().string());
    std::sort(top.begin(), top.end());
    EXPECT_EQ(top, (std::vector<std::string>{"html", "temp", "user"}));
    EXPECT_TRUE(fs::is_empty(home + "/user"));
}

TEST(FormLimitsTest, MessageTextAndDeleteListKeepWholeItemsUpToTheirLimits) {
    ConnectionPtr h(NewConnection(-1));
    Connection& c = *h;
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
    // A line end at the start adds only the break.
    ConnectionPtr fresh(NewConnection(-1));
    AppendMessage(*fresh, "\rstray");
    AppendMessage(*fresh, "ok");
    EXPECT_STREQ(fresh->messageText, "\r\nok\r\n");
    // The delete list stops short of its size.
    c.form.bodyMode = kBodyUrlencoded;
    for (int i = 0; i < 700; ++i) FormField(c, "delete_a1234=on");
    EXPECT_EQ(strlen(c.deleteList), 682u * 6);
    FormField(c, "delete_c1=on"); // 4095 bytes with its comma
    FormField(c, "delete_c2=on");
    EXPECT_EQ(strlen(c.deleteList), 4095u);
    EXPECT_EQ(std::string(c.deleteList + 4086), "a1234,c1,");
}

} // namespace
