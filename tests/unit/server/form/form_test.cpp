#include "mail/date/local_seconds.h"
#include "mail/mail_golden.h"
#include "server/form/form_reader.h"
#include "server/request/request_test_util.h"
#include "server/server_cases.h"
#include "server/text/percent_decode.h"
#include "store/login_sessions.h"

#include <optional>

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

namespace fs = std::filesystem;
using request_test::Base64;

const std::string kBoundary = "----WebKitFormBoundaryq1W2e3R4t5Y6u7I8";

struct Part {
    std::string name;
    std::string data;
    std::optional<std::string> fileName = std::nullopt; // set for a file part
};

std::string Multipart(const std::vector<Part>& parts) {
    std::string body;
    for (const auto& p : parts) {
        body += "--" + kBoundary + "\r\nContent-Disposition: form-data; name=\"" + p.name + "\"";
        if (p.fileName) {
            body += "; filename=\"" + *p.fileName + "\"\r\nContent-Type: application/octet-stream";
        }
        body += "\r\n\r\n" + p.data + "\r\n";
    }
    return body + "--" + kBoundary + "--\r\n";
}

class MultipartTest : public request_test::RequestTest {
protected:
    void SetUp() override {
        RequestTest::SetUp();
        AddUser("yamada", "secret");
    }

    static std::string Headers(const std::string& credentials = "yamada:secret",
                               const std::string& agent = "Mozilla/5.0 (X11; Linux x86_64)") {
        std::string headers = "User-Agent: " + agent +
                              "\r\nContent-Type: multipart/form-data; boundary=" + kBoundary +
                              "\r\n";
        if (!credentials.empty()) headers += "Authorization: Basic " + Base64(credentials) + "\r\n";
        return headers;
    }
    static std::string Request(const std::vector<Part>& parts,
                               const std::string& credentials = "yamada:secret",
                               const std::string& agent = "Mozilla/5.0 (X11; Linux x86_64)") {
        return Post("/mail/new/", Headers(credentials, agent), Multipart(parts));
    }
};

// The CRLF in front of each boundary is framing; everything else in the
// part, line ends and NULs included, reaches the file unchanged.
TEST_F(MultipartTest, UploadsByteForByte) {
    const std::string binary("\0\x01\r\x00\n\r\r\n\xff\xfe--\0\r\n\n\r", 18);
    std::string allBytes;
    for (int i = 0; i < 1024; ++i) allBytes += static_cast<char>((i * 7 + i / 256) & 0xFF);
    const std::string contents[] = {
        "line1\r\nline2\r\n",
        "",
        "\r\n",
        "\r\n\r\n",
        "abc\r",
        "\nabc",
        "\r\n-- not a boundary\r\n--" + kBoundary.substr(0, 10),
        binary,
        allBytes,
        // Lines longer than a piece: the CR as the last byte of a piece, the
        // CRLF as the whole next piece, and a line with no break at all.
        std::string(4094, 'a') + "\r\n" + "b",
        std::string(4095, 'a') + "\r\n",
        std::string(5000, 'a'),
    };
    for (const auto& content : contents) {
        SCOPED_TRACE(::testing::PrintToString(content.substr(0, 40)) + " size " +
                     std::to_string(content.size()));
        Trace t = FeedEveryWay(
            Request({{"send_to", "x"}, {"upload1", content, "f.bin"}, {"send_cc", "y"}}));
        EXPECT_EQ(t.uploadCount, 1);
        EXPECT_EQ(t.uploadNames[0], "f.bin");
        EXPECT_EQ(t.files, (std::vector<std::string>{"yamada/", "yamada/yamada.0 " + content}));
        EXPECT_EQ(t.fieldCalls, (std::vector<std::string>{"send[to]x", "send[cc]y"}));
        EXPECT_FALSE(t.fileOpen);
    }
}

TEST_F(MultipartTest, FileNamesKeepTheirLastComponent) {
    auto cases = SERVER_CASES("cases/upload_names.ref");
    cases.push_back({std::string(400, 'n'), "windows", std::string(299, 'n')});
    for (const auto& k : cases) {
        SCOPED_TRACE(k.at(0));
        const std::string agent = k.at(1) == "mac"
                                      ? "Mozilla/5.0 (Macintosh; Intel Mac OS X 10_15_7)"
                                      : "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1)";
        Trace t = FeedEveryWay(Request({{"upload1", "x", k.at(0)}}, "yamada:secret", agent));
        EXPECT_EQ(t.uploadNames[0], k.at(2));
        EXPECT_EQ(t.uploadCount, 1);
    }
}

// Only a logged-in request writes files, and only below the temp folder.
TEST_F(MultipartTest, UploadsNeedALoggedInUserWithAPlainName) {
    AddUser("..", "pw");
    AddUser("a/b", "pw");
    for (const char* credentials : {"", "yamada:wrong", "..:pw", "a/b:pw"}) {
        SCOPED_TRACE(credentials);
        Trace t = FeedEveryWay(Request({{"upload1", "data", "f.txt"}}, credentials));
        EXPECT_EQ(t.uploadCount, 0);
        EXPECT_TRUE(t.files.empty());
    }
    std::vector<std::string> top;
    for (const auto& e : fs::directory_iterator(root)) top.push_back(e.path().filename().string());
    std::sort(top.begin(), top.end());
    EXPECT_EQ(top, (std::vector<std::string>{"html", "temp", "user"}));
    EXPECT_TRUE(fs::is_empty(root / "user"));
}

TEST_F(MultipartTest, LoginCarriedInTheUrl) {
    session_insert("yamada", 77, "00112233445566778899aabbccddeeff", local_seconds());
    const std::string headers =
        "Cookie: tarnbox=00112233445566778899aabbccddeeff\r\n" + Headers("");
    const std::string body = Multipart({{"upload1", "data", "f.txt"}});
    Trace t = FeedEveryWay(Post("/mail/new/?user=yamada?check=77", headers, body));
    EXPECT_EQ(t.files, (std::vector<std::string>{"yamada/", "yamada/yamada.0 data"}));
    // Credentials that fail undo the login, so the name they give chooses no
    // folder.
    AddUser("bob", "pw");
    Trace refused =
        FeedEveryWay(Post("/mail/new/?user=yamada?check=77",
                          headers + "Authorization: Basic " + Base64("bob:x") + "\r\n", body));
    EXPECT_FALSE(refused.user);
    EXPECT_EQ(refused.userName, "bob");
    EXPECT_TRUE(refused.files.empty());
}

// Whole posts of posts.cases and the trace each leaves, in posts.ref: a
// record names the post, then gives "url BODY" for a urlencoded body or
// "part NAME VALUE" and "file NAME FILENAME DATA" lines for a multipart one
// of yamada's; "cut TEXT" ends the body after TEXT.
TEST_F(MultipartTest, PostsAndTheirTraces) {
    std::string traces;
    for (const auto& record : mail_golden::ReadCases(GOLDEN_PATH("cases/posts.cases"))) {
        SCOPED_TRACE(record.at(0));
        std::vector<Part> parts;
        std::string url, cut;
        for (size_t i = 1; i < record.size(); i++) {
            const std::string& f = record[i];
            const size_t a = f.find(' '), b = f.find(' ', a + 1), c = f.find(' ', b + 1);
            const std::string kind = f.substr(0, a);
            if (kind == "url") url = f.substr(a + 1);
            if (kind == "cut") cut = f.substr(a + 1);
            if (kind == "part") parts.push_back({f.substr(a + 1, b - a - 1), f.substr(b + 1)});
            if (kind == "file")
                parts.push_back(
                    {f.substr(a + 1, b - a - 1), f.substr(c + 1), f.substr(b + 1, c - b - 1)});
        }
        std::string body = parts.empty() ? url : Multipart(parts);
        if (!cut.empty()) body.resize(body.find(cut) + cut.size());
        const Trace t = FeedEveryWay(Post("/mail/new/", parts.empty() ? "" : Headers(), body));
        traces += mail_golden::Section(record.at(0), testing::PrintToString(t));
    }
    EXPECT_GOLDEN("posts.ref", traces);
}

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
    c.form.bodyMode = kBodyUrlencoded;
    for (int i = 0; i < 700; ++i) FeedFormLine(c, "delete_a1234=on");
    EXPECT_EQ(strlen(c.deleteList), 682u * 6);
    FeedFormLine(c, "delete_c1=on"); // 4095 bytes with its comma
    FeedFormLine(c, "delete_c2=on");
    EXPECT_EQ(strlen(c.deleteList), 4095u);
    EXPECT_EQ(std::string(c.deleteList + 4086), "a1234,c1,");
}

} // namespace
