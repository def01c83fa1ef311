#include "server/output/send_status.h"

#include <regex>

#include "output_test_util.h"
#include "server/route/page_fixture.h"

namespace {

using SendStatusTest = OutputTest;

// The answer with every date replaced by "<date>", after checking the dates'
// form.
std::string WithoutDates(const std::string& answer) {
    static const std::regex date("[A-Z][a-z]{2}, [1-9][0-9]? [A-Z][a-z]{2} [0-9]{4} "
                                 "[0-9]{2}:[0-9]{2}:[0-9]{2} GMT");
    EXPECT_TRUE(std::regex_search(answer, date)) << answer;
    return MaskScripts(std::regex_replace(answer, date, "<date>"));
}

TEST_F(SendStatusTest, WritesTheHeaderBlockOfEachCode) {
    const std::string head =
        PageSafetyLines() + "Date: <date>\r\nServer: Tarnbox 1.51\r\nConnection: close\r\n";
    const std::string html = "Content-type: text/html; charset=Shift_JIS\r\n";
    const std::string fresh =
        "Last-Modified: <date>\r\nExpires: -1\r\nPragma: no-cache\r\nCache-Control: no-store\r\n";
    const struct {
        int code;
        uint16_t browser;
        std::string expected;
    } cases[] = {
        {200, 0, "HTTP/1.0 200 OK\r\n" + head + html + fresh + "\r\n"},
        {201, 0,
         "HTTP/1.0 200 OK\r\n" + head +
             "Content-Type: application/octet-stream\r\nContent-Disposition: attachment\r\n\r\n"},
        {401, 0, "HTTP/1.0 401 Unauthorized\r\n" + head + html + "\r\n"},
        {404, 0, "HTTP/1.0 404 File Not Found\r\n" + head + html + "\r\n"},
        {404, kBrowserMozilla4, "HTTP/1.0 404 File Not Found\r\n" + head + html + "\r\n"},
        {404, kBrowserMsie | kBrowserMozilla4,
         "HTTP/1.0 200 OK\r\n" + head + html + fresh + "\r\n"},
        {405, 0,
         "HTTP/1.0 405 Method Not Allowed\r\n" + head + "Allow: GET, HEAD\r\n" + html + "\r\n"},
        {405, kBrowserMsie,
         "HTTP/1.0 405 Method Not Allowed\r\n" + head + "Allow: GET, HEAD\r\n" + html + "\r\n"},
    };
    for (const auto& k : cases) {
        out.clear();
        c->browser = k.browser;
        SendStatus(*c, k.code);
        EXPECT_EQ(WithoutDates(out), k.expected) << k.code << " browser " << k.browser;
    }
}

TEST_F(SendStatusTest, SendsEachLineOnItsOwn) {
    SendRecorder recorder(*c);
    SendStatus(*c, 200);
    recorder.Finish();
    std::vector<size_t> lines;
    for (size_t start = 0, end; (end = recorder.bytes.find("\r\n", start)) != std::string::npos;
         start = end + 2) {
        lines.push_back(end + 2 - start);
    }
    EXPECT_EQ(recorder.sizes, lines);
}

} // namespace
