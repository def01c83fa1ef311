#include "server/files/file_access.h"
#include "server/files/static_file.h"
#include "server/route/page_fixture.h"

#include <sys/time.h>

namespace {

constexpr time_t kModified = 1796389509; // Fri, 4 Dec 2026 13:05:09 GMT

std::string Header(const char* type, size_t length) {
    return "HTTP/1.0 200 OK\r\nDate: *\r\nConnection: close\r\nContent-Type: " + std::string(type) +
           "\r\nLast-Modified: Fri, 4 Dec 2026 13:05:09 GMT\r\nContent-Length: " +
           std::to_string(length) + "\r\n\r\n";
}

class StaticFileTest : public PageTest {
protected:
    // A GET (or HEAD) routed, evaluated and dispatched until the answer is
    // complete. Returns the dispatcher passes; out has the answer, its Date
    // masked (Last-Modified is the file's own time here).
    int Serve(const std::string& line, bool head = false) {
        out.clear();
        conn = Capture();
        Route(*conn, line + " HTTP/1.0");
        if (head) conn->route = conn->route == Route::Static ? Route::StaticHead : Route::NotFound;
        EvaluateRequest(*conn);
        int passes = 0;
        for (; conn->state != PageState::Done && passes < 100; passes++) Dispatcher(*conn);
        size_t d = out.find("\r\nDate: ");
        if (d != std::string::npos) out.replace(d + 8, out.find("\r\n", d + 2) - d - 8, "*");
        return passes;
    }
    void Put(const std::string& path, const std::string& bytes) {
        WriteFile(path, bytes);
        timeval times[2] = {{kModified, 0}, {kModified, 0}};
        utimes(path.c_str(), times);
    }
    ConnectionPtr conn;
};

TEST_F(StaticFileTest, HeaderBlockAndContentType) {
    const struct {
        const char *name, *type;
    } cases[] = {{"a.JPG", "image/jpeg"},
                 {"b.jpeg", "image/jpeg"},
                 {"c.gif", "image/gif"},
                 {"d.htm", "text/html"},
                 {"e.HTML", "text/html"},
                 {"f.txt", "text/plain"},
                 {"g.png", "application/octet-stream"},
                 {"dir.d/h", "application/octet-stream"}};
    for (const auto& t : cases) {
        SCOPED_TRACE(t.name);
        Put(home + "/html/" + t.name, "12345");
        Serve(std::string("/") + t.name);
        EXPECT_EQ(out, Header(t.type, 5) + "12345");
        EXPECT_EQ(conn->file, -1);
    }
    EXPECT_EQ(Serve("/a.JPG", true), 0); // HEAD: the header block only
    EXPECT_EQ(out, Header("image/jpeg", 5));
    EXPECT_EQ(conn->file, -1);
    Serve("/mail/index.html", true);
    EXPECT_EQ(out.substr(0, 29), "HTTP/1.0 404 File Not Found\r\n");
}

TEST_F(StaticFileTest, StreamsInBlocksUntilAShortRead) {
    const struct {
        size_t size;
        int passes;
    } cases[] = {{0, 1}, {3, 1}, {kStreamBlock, 2}, {kStreamBlock + 3, 2}, {3 * kStreamBlock, 4}};
    for (const auto& t : cases) {
        SCOPED_TRACE(t.size);
        std::string body(t.size, 'x');
        for (size_t i = 0; i < t.size; i += 7) body[i] = static_cast<char>('a' + i % 26);
        Put(home + "/html/big.bin", body);
        EXPECT_EQ(Serve("/big.bin"), t.passes);
        EXPECT_EQ(out, Header("application/octet-stream", t.size) + body);
    }
}

TEST_F(StaticFileTest, BackgroundImageWhateverFollows) {
    Put(home + "/images/wall.GIF", "GIF89a");
    snprintf(data_store().settings.background_image, 256, "%s/images/wall.GIF", home.c_str());
    serviceActive = 0;
    Serve("/back/other.jpg");
    EXPECT_EQ(out, Header("image/gif", 6) + "GIF89a");
}

class DownloadTest : public StaticFileTest {
protected:
    void SetUp() override {
        StaticFileTest::SetUp();
        taro = AddUser("taro");
        AttachmentEntry& a = taro->runtime.attachments[0];
        snprintf(a.file_name, kFieldSize, "report.bin");
        snprintf(a.message_name, kFieldSize, "%s", Sjis("報告.pdf").c_str());
        taro->runtime.attachmentCount = 1;
        file = home + "/temp/taro/report.bin";
        WriteFile(file, "PDFDATA");
        out.clear();
        conn = Capture();
        Route(*conn, "/mail/~taro/%E5%A0%B1%E5%91%8A.pdf HTTP/1.0");
    }
    UserRecord* taro = nullptr;
    std::string file;
};

const std::string kDownloadHead = "HTTP/1.0 200 OK\r\nContent-Type: application/octet-stream\r\n";

TEST_F(DownloadTest, WaitsForTheWriterThenStreams) {
    taro->runtime.attachments[0].writing = 1;
    EvaluateRequest(*conn);
    Dispatcher(*conn);
    EXPECT_EQ(conn->state, PageState::DownloadStart);
    EXPECT_EQ(out, kDownloadHead);
    taro->runtime.attachments[0].writing = 0;
    Dispatcher(*conn);
    EXPECT_EQ(conn->state, PageState::DownloadStream);
    Dispatcher(*conn);
    EXPECT_EQ(conn->state, PageState::Done);
    EXPECT_EQ(out, kDownloadHead + "Content-Length: 7\r\n\r\nPDFDATA");
    EXPECT_TRUE(std::filesystem::exists(file)); // still offered by the message
}

TEST_F(DownloadTest, FileNoLongerOfferedIsDeletedAfterwards) {
    EvaluateRequest(*conn);
    Dispatcher(*conn);
    snprintf(taro->runtime.attachments[0].file_name, kFieldSize, "newer.bin");
    Dispatcher(*conn);
    EXPECT_EQ(conn->state, PageState::Done);
    EXPECT_FALSE(std::filesystem::exists(file));
}

TEST_F(DownloadTest, MissingOrUnsafeFile) {
    std::filesystem::remove(file);
    EvaluateRequest(*conn);
    Dispatcher(*conn);
    EXPECT_EQ(conn->state, PageState::Done);
    EXPECT_EQ(out, kDownloadHead); // the answer ends after its first lines
    for (const char* name : {"../../secret", "..", "a/b"}) {
        snprintf(taro->runtime.attachments[0].file_name, kFieldSize, "%s", name);
        out.clear();
        conn->state = PageState::Receiving;
        EvaluateRequest(*conn);
        EXPECT_EQ(conn->state, PageState::Done);
        EXPECT_EQ(out.substr(0, 29), "HTTP/1.0 404 File Not Found\r\n") << name;
    }
}

} // namespace
