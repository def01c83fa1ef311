#include "base/text/percent_decode.h"
#include "mail/date/local_seconds.h"
#include "server/form/form_reader.h"
#include "server/form/form_reading.h"
#include "server/request/request_test_util.h"
#include "server/server_cases.h"
#include "store/login_sessions.h"

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

using request_test::Post;

namespace fs = std::filesystem;
using request_test::Base64;
using request_test::Multipart;
using request_test::MultipartHeaders;
using request_test::Part;

class MultipartTest : public request_test::RequestTest {
protected:
    void SetUp() override {
        RequestTest::SetUp();
        AddUser("yamada", "secret");
    }

    static std::string Request(const std::vector<Part>& parts,
                               const std::string& credentials = "yamada:secret",
                               const std::string& agent = request_test::kAgent) {
        return Post("/mail/new/", MultipartHeaders(credentials, agent), Multipart(parts));
    }
};

// The traces are in uploads.ref under the name sent and the browser.
TEST_F(MultipartTest, FileNamesKeepTheirLastComponent) {
    auto cases = SERVER_CASES("cases/upload_names.ref");
    cases.push_back({std::string(400, 'n'), "windows"});
    std::string traces;
    for (const auto& k : cases) {
        const std::string agent = k.at(1) == "mac"
                                      ? "Mozilla/5.0 (Macintosh; Intel Mac OS X 10_15_7)"
                                      : "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1)";
        traces += mail_golden::Section(
            k.at(0) + " from " + k.at(1),
            FeedEveryWay(Request({{"upload1", "x", k.at(0)}}, "yamada:secret", agent)));
    }
    EXPECT_GOLDEN("uploads.ref", traces);
}

TEST_F(MultipartTest, LoginCarriedInTheUrl) {
    session_insert("yamada", 77, "00112233445566778899aabbccddeeff", local_seconds());
    const std::string headers =
        "Cookie: tarnbox=00112233445566778899aabbccddeeff\r\n" + MultipartHeaders("");
    const std::string body = Multipart({{"upload1", "data", "f.txt"}});
    std::string traces = mail_golden::Section(
        "cookie", FeedEveryWay(Post("/mail/new/?user=yamada?check=77", headers, body)));
    // Credentials that fail undo the login, so the name they give chooses no
    // folder.
    AddUser("bob", "pw");
    traces += mail_golden::Section(
        "cookie, and bob's credentials that fail",
        FeedEveryWay(Post("/mail/new/?user=yamada?check=77",
                          headers + "Authorization: Basic " + Base64("bob:x") + "\r\n", body)));
    EXPECT_GOLDEN("login_in_url.ref", traces);
}

// Whole posts and the trace each leaves. Files are written only below the
// temp folder.
TEST_F(MultipartTest, PostsAndTheirTraces) {
    AddUser("..", "pw");
    AddUser("a/b", "pw");
    EXPECT_GOLDEN("posts.ref", TracesOf(GOLDEN_PATH("cases/posts.cases")));
    std::vector<std::string> top;
    for (const auto& e : fs::directory_iterator(root)) top.push_back(e.path().filename().string());
    std::sort(top.begin(), top.end());
    EXPECT_EQ(top, (std::vector<std::string>{"html", "temp", "user"}));
    EXPECT_TRUE(fs::is_empty(root / "user"));
}

void FeedFormLine(Connection& c, const std::string& line) {
    memcpy(c.line, line.c_str(), line.size() + 1);
    FormLine(c);
}

TEST(FormLimitsTest, MessageTextKeepsWholeLinesUpToItsLimit) {
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
}

TEST(FormLimitsTest, LineEndAtTheStartAddsOnlyTheBreak) {
    ConnectionPtr c(NewConnection(-1));
    AppendMessage(*c, "\rstray");
    AppendMessage(*c, "ok");
    EXPECT_STREQ(c->messageText, "\r\nok\r\n");
}

TEST(FormLimitsTest, DeleteListStopsShortOfItsSize) {
    ConnectionPtr h(NewConnection(-1));
    Connection& c = *h;
    c.form.bodyMode = kBodyUrlencoded;
    for (int i = 0; i < 700; ++i) FeedFormLine(c, "delete_a1234=on");
    EXPECT_EQ(strlen(c.deleteList), 682u * 6);
    FeedFormLine(c, "delete_c1=on"); // 4095 bytes with its comma
    FeedFormLine(c, "delete_c2=on");
    EXPECT_EQ(strlen(c.deleteList), 4095u);
    EXPECT_EQ(std::string(c.deleteList + 4086), "a1234,c1,");
}

} // namespace
