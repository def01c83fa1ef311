#include "server/request/request_test_util.h"
#include "server/server_cases.h"
#include "store/login_sessions.h"

#include "mail/date/local_seconds.h"

#include <optional>

namespace {

namespace fs = std::filesystem;
using request_test::Base64;
using request_test::Post;
using request_test::Trace;

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

    static std::string Request(const std::vector<Part>& parts,
                               const std::string& credentials = "yamada:secret",
                               const std::string& agent = "Mozilla/5.0 (X11; Linux x86_64)") {
        std::string headers = "User-Agent: " + agent +
                              "\r\nContent-Type: multipart/form-data; boundary=" + kBoundary +
                              "\r\n";
        if (!credentials.empty()) headers += "Authorization: Basic " + Base64(credentials) + "\r\n";
        return Post("/mail/new/", headers, Multipart(parts));
    }
};

TEST_F(MultipartTest, FieldsMessageAndMarks) {
    Trace t = FeedEveryWay(Request({
        {"send_to", "a@example.jp"},
        {"user_name", "\x8e\x52\x93\x63"},
        {"book_note", "l1\r\nl2"},
        {"user_pass1", std::string("pw\0x", 4)},
        {"user_id", "a\rb"},
        {"unknown", "ignored"},
        {"message", "Hello,\r\n\r\nBye"},
        {"a", "yamada"},
        {"b", "pa ss"},
        {"delete_a12", "on"},
        {"delete_b15", "on"},
        {"list_time", "1700000000"},
        {"send_cc", ""},
    }));
    EXPECT_EQ(t.fieldCalls, (std::vector<std::string>{
                                "send[to]a@example.jp", "user[name]\x8e\x52\x93\x63",
                                "book[note]l1", "book[note]l2 (broken)", "user[pass1]pw (broken)",
                                "user[id]ab (broken)", "send[cc]"}));
    EXPECT_EQ(t.messageText, "Hello,\r\n\r\nBye\r\n");
    EXPECT_EQ(t.formSlots[0], "yamada");
    EXPECT_EQ(t.formSlots[2], "pa ss");
    EXPECT_EQ(t.deleteList, "a12,b15,");
    EXPECT_EQ(t.listTimeField, 1700000000);
    EXPECT_EQ(t.uploadCount, 0);
}

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

TEST_F(MultipartTest, EmptyFilePartsCreateNothing) {
    Trace t = FeedEveryWay(Request({
        {"upload1", "", ""},
        {"upload2", "junk sent anyway", ""},
        {"upload3", "B", "b.txt"},
        {"upload4", "", ""},
        {"upload5", "C\r\n", "c.txt"},
    }));
    EXPECT_EQ(t.uploadCount, 2);
    EXPECT_EQ(t.uploadNames[0], "b.txt");
    EXPECT_EQ(t.uploadNames[1], "c.txt");
    EXPECT_EQ(t.files,
              (std::vector<std::string>{"yamada/", "yamada/yamada.0 B", "yamada/yamada.1 C\r\n"}));
}

TEST_F(MultipartTest, AtMostTenUploads) {
    std::vector<Part> parts;
    std::vector<std::string> files = {"yamada/"};
    for (int i = 0; i <= 10; ++i) {
        std::string n = std::to_string(i);
        parts.push_back({"upload" + n, "data" + n, "f" + n});
        if (i < 10) files.push_back("yamada/yamada." + n + " data" + n);
    }
    Trace t = FeedEveryWay(Request(parts));
    EXPECT_EQ(t.uploadCount, 10);
    EXPECT_EQ(t.uploadNames[9], "f9");
    std::sort(files.begin(), files.end());
    EXPECT_EQ(t.files, files);
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
    const std::string headers = "Cookie: tarnbox=00112233445566778899aabbccddeeff\r\n"
                                "Content-Type: multipart/form-data; boundary=" +
                                kBoundary + "\r\n";
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

// A body cut short by its count still ends the file with what came.
TEST_F(MultipartTest, BodyEndingInsideAFile) {
    std::string body = Multipart({{"upload1", "hello\r\nwor", "f.txt"}});
    body.resize(body.find("wor") + 3);
    Trace t = FeedEveryWay(Post("/mail/new/",
                                "Content-type: multipart/form-data; boundary=" + kBoundary +
                                    "\r\nAuthorization: Basic " + Base64("yamada:secret") + "\r\n",
                                body));
    EXPECT_EQ(t.files, (std::vector<std::string>{"yamada/", "yamada/yamada.0 hello\r\nwor"}));
    EXPECT_FALSE(t.fileOpen);
}

} // namespace
