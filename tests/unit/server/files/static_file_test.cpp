#include "server/files/file_access.h"
#include "server/files/static_file.h"
#include "server/route/page_fixture.h"

#include <sys/time.h>

namespace {

constexpr time_t kModified = 1796389509; // Fri, 4 Dec 2026 13:05:09 GMT

std::string Header(const char* type, size_t length) {
    return "HTTP/1.0 200 OK\r\n" + std::string(kSafetyLines) +
           "Date: *\r\nConnection: close\r\nContent-Type: " + std::string(type) +
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

// A file is streamed in blocks until a short read, so one that fills whole
// blocks takes a pass more.
TEST_F(StaticFileTest, HeaderBlockContentTypeAndBlocks) {
    const struct {
        const char *name, *type;
        size_t size;
        int passes;
    } cases[] = {{"a.JPG", "image/jpeg", 5, 1},
                 {"b.jpeg", "image/jpeg", 0, 1},
                 {"c.gif", "image/gif", kStreamBlock, 2},
                 {"d.htm", "text/html", kStreamBlock + 3, 2},
                 {"e.HTML", "text/html", 3 * kStreamBlock, 4},
                 {"f.txt", "text/plain", 3, 1},
                 {"g.png", "application/octet-stream", 5, 1},
                 {"dir.d/h", "application/octet-stream", 5, 1}};
    for (const auto& t : cases) {
        SCOPED_TRACE(t.name);
        std::string body(t.size, 'x');
        for (size_t i = 0; i < t.size; i += 7) body[i] = static_cast<char>('a' + i % 26);
        Put(home + "/html/" + t.name, body);
        EXPECT_EQ(Serve(std::string("/") + t.name), t.passes);
        EXPECT_EQ(out, Header(t.type, t.size) + body);
        EXPECT_EQ(conn->file, -1);
    }
    Put(home + "/html/a.JPG", "12345");
    EXPECT_EQ(Serve("/a.JPG", true), 0); // HEAD: the header block only
    EXPECT_EQ(out, Header("image/jpeg", 5));
    EXPECT_EQ(conn->file, -1);
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

const std::string kDownloadHead = "HTTP/1.0 200 OK\r\n" + std::string(kSafetyLines) +
                                  "Content-Type: application/octet-stream\r\n"
                                  "Content-Disposition: attachment\r\n";

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
