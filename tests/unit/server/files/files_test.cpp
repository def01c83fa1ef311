#include "server/files/file_access.h"
#include "server/files/static_file.h"
#include "server/route/page_fixture.h"

#include <sys/stat.h>
#include <sys/time.h>

namespace {

constexpr time_t kModified = 1796389509; // Fri, 4 Dec 2026 13:05:09 GMT

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

TEST_F(StaticFileTest, HeaderBlockContentTypeAndBlocks) {
    std::string heads;
    for (const auto& k : SERVER_CASES("cases/content_types.ref")) {
        SCOPED_TRACE(k.at(0));
        const size_t size = std::stoul(k.at(1)) * kStreamBlock + std::stoul(k.at(2));
        std::string body(size, 'x');
        for (size_t i = 0; i < size; i += 7) body[i] = static_cast<char>('a' + i % 26);
        Put(home + "/html/" + k.at(0), body);
        EXPECT_EQ(Serve("/" + k.at(0)), std::stoi(k.at(3)));
        ASSERT_GE(out.size(), size);
        EXPECT_EQ(out.substr(out.size() - size), body);
        heads += "=== " + k.at(0) + "\n" + out.substr(0, out.size() - size);
        EXPECT_EQ(conn->file, -1);
    }
    Put(home + "/html/a.JPG", "12345");
    EXPECT_EQ(Serve("/a.JPG", true), 0); // HEAD: the header block only
    EXPECT_GOLDEN("heads.ref", heads + "=== HEAD a.JPG\n" + out);
    EXPECT_EQ(conn->file, -1);
}

class DownloadTest : public StaticFileTest {
protected:
    void SetUp() override {
        StaticFileTest::SetUp();
        taro = AddUser("taro");
        Attach(taro, "report.bin", Sjis("報告.pdf"), "PDFDATA");
        file = home + "/temp/taro/report.bin";
        out.clear();
        conn = Capture();
        Route(*conn, "/mail/~taro/%E5%A0%B1%E5%91%8A.pdf HTTP/1.0");
    }
    std::string file;
};

TEST_F(DownloadTest, WaitsForTheWriterThenStreams) {
    taro->runtime.attachments[0].writing = 1;
    EvaluateRequest(*conn);
    Dispatcher(*conn);
    EXPECT_EQ(conn->state, PageState::DownloadStart);
    EXPECT_GOLDEN("download_head.ref", out);
    taro->runtime.attachments[0].writing = 0;
    Dispatcher(*conn);
    EXPECT_EQ(conn->state, PageState::DownloadStream);
    Dispatcher(*conn);
    EXPECT_EQ(conn->state, PageState::Done);
    EXPECT_GOLDEN("download.ref", out);
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
    EXPECT_GOLDEN("download_head.ref", out); // the answer ends after its first lines
    for (const char* name : {"../../secret", "..", "a/b"}) {
        snprintf(taro->runtime.attachments[0].file_name, kFieldSize, "%s", name);
        out.clear();
        conn->state = PageState::Receiving;
        EvaluateRequest(*conn);
        EXPECT_EQ(conn->state, PageState::Done);
        EXPECT_EQ(out.substr(0, 29), "HTTP/1.0 404 File Not Found\r\n") << name;
    }
}

// Files inside the folder only, and never the gateway's own.
TEST_F(StaticFileTest, LookupFindsFilesInsideTheFolderOnly) {
    const std::string html = home + "/html";
    for (const char* f : {"index.html", "a.txt", "sp ace.txt", "..\\x.txt", "docs/index.html",
                          "old/index.htm", "both/index.html"})
        WriteFile(html + "/" + f, f);
    WriteFile(html + "/both/index.htm", "htm");
    WriteFile(home + "/secret.txt", "secret");
    WriteFile(home + "/outside/x.txt", "outside");
    symlink((html + "/a.txt").c_str(), (html + "/link-in").c_str());
    symlink((home + "/secret.txt").c_str(), (html + "/link-out").c_str());
    symlink((home + "/outside").c_str(), (html + "/dir-out").c_str());
    mkfifo((html + "/fifo").c_str(), 0600);
    // The content of the file found ("-" for none) and the path tried last.
    std::string tried;
    auto lookup = [&](const std::string& request) {
        char path[kFieldSize];
        int fd = StaticLookup(path, sizeof path, (request + " HTTP/1.0").c_str());
        tried = std::string(path).size() >= html.size() ? path + html.size() : path;
        if (fd < 0) return std::string("-");
        char buf[64];
        ssize_t n = read(fd, buf, sizeof buf);
        close(fd);
        return std::string(buf, n > 0 ? static_cast<size_t>(n) : 0);
    };
    for (const auto& k : SERVER_CASES("cases/lookup.ref")) {
        SCOPED_TRACE(k.at(0));
        EXPECT_EQ(lookup(k.at(0)), k.at(1));
        if (!k.at(2).empty()) {
            EXPECT_EQ(tried, k.at(2));
        }
    }
    const char* const files[] = {"tmp/taro/a.bin", "usr/taro.txl", "tarnbox.dat"};
    for (const char* f : files) WriteFile(html + "/" + f, "x");
    server_paths().temp = html + "/tmp";
    server_paths().user = html + "/usr";
    data_store().data_path = html + "/tarnbox.dat";
    for (const char* f : files) EXPECT_EQ(lookup(f), "-") << f;
    std::filesystem::remove_all(html);
    EXPECT_EQ(lookup("index.html"), "-");
}

} // namespace
