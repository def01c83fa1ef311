#include "server/files/static_file.h"
#include "server/route/page_fixture.h"

#include <sys/stat.h>
#include <unistd.h>

namespace {

class StaticLookupTest : public PageTest {
protected:
    void SetUp() override {
        PageTest::SetUp();
        html = home + "/html";
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
    }
    // The content of the file found ("-" for none) and the path tried last.
    std::string Lookup(const std::string& request, std::string* tried = nullptr) {
        char path[kFieldSize];
        int fd = StaticLookup(path, sizeof path, (request + " HTTP/1.0").c_str());
        std::string p = path;
        if (tried) *tried = p.size() >= html.size() ? p.substr(html.size()) : p;
        if (fd < 0) return "-";
        char buf[64];
        ssize_t n = read(fd, buf, sizeof buf);
        close(fd);
        return std::string(buf, n > 0 ? static_cast<size_t>(n) : 0);
    }
    std::string html;
};

TEST_F(StaticLookupTest, FindsFilesInsideTheFolderOnly) {
    const struct {
        const char *request, *content, *tried;
    } cases[] = {
        {"index.html", "index.html", "/index.html"},
        {"", "index.html", "/index.html"},
        {"docs/", "docs/index.html", "/docs/index.html"},
        {"docs", "docs/index.html", "/docs/index.html"},
        {"old", "old/index.htm", "/old/index.htm"},
        {"old/", "-", "/old/index.html"},
        {"both", "both/index.html", "/both/index.html"},
        {"a.txt?v=2", "a.txt", "/a.txt"},
        {"sp%20ace.txt", "sp ace.txt", "/sp ace.txt"},
        {"..\\x.txt", "..\\x.txt", "/..\\x.txt"}, // a backslash separates nothing here
        {"link-in", "a.txt", "/link-in"},
        {"missing", "-", "/missing/index.htm"},
        // Ways out of the folder.
        {"../secret.txt", "-", ""},
        {"%2e%2e/secret.txt", "-", ""},
        {"%2E%2E%2Fsecret.txt", "-", ""},
        {"..%2fsecret.txt", "-", ""},
        {"docs/../../secret.txt", "-", ""},
        {"docs/../a.txt", "-", ""},
        {"/etc/passwd", "-", ""},
        {"%2fetc%2fpasswd", "-", ""},
        {"a.txt%00.html", "-", ""},
        {"link-out", "-", "/link-out/index.htm"},
        {"dir-out/x.txt", "-", "/dir-out/x.txt/index.htm"},
        {"fifo", "-", "/fifo/index.htm"}, // must neither block nor be served
    };
    for (const auto& t : cases) {
        SCOPED_TRACE(t.request);
        std::string tried;
        EXPECT_EQ(Lookup(t.request, &tried), t.content);
        if (t.tried[0]) {
            EXPECT_EQ(tried, t.tried);
        }
    }
}

TEST_F(StaticLookupTest, GatewayFilesAreNeverServed) {
    for (const char* f : {"tmp/taro/a.bin", "usr/taro.txl", "tarnbox.dat"})
        WriteFile(html + "/" + f, "x");
    server_paths().temp = html + "/tmp";
    server_paths().user = html + "/usr";
    data_store().data_path = html + "/tarnbox.dat";
    for (const char* f : {"tmp/taro/a.bin", "usr/taro.txl", "tarnbox.dat"})
        EXPECT_EQ(Lookup(f), "-") << f;
    std::filesystem::remove_all(html);
    EXPECT_EQ(Lookup("index.html"), "-");
}

} // namespace
