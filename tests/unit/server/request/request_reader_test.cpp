#include "server/request/request_test_util.h"

#include <fstream>

namespace {

using request_test::kNever;
using request_test::Post;
using request_test::Trace;

class RequestReaderTest : public request_test::RequestTest {};

TEST_F(RequestReaderTest, RequestLineMethodsInAnyCase) {
    std::ofstream(html / "page.html") << "<html></html>";
    struct Case {
        const char* request;
        Route route;
        int bodyMode;
    } cases[] = {
        {"GET /mail/ HTTP/1.0\r\n\r\n", Route::Mail, kBodyGetHeaders},
        {"gEt /mail/new/ HTTP/1.1\r\nHost: x\r\n\r\n", Route::NewUser, kBodyGetHeaders},
        {"post /mail/ HTTP/1.0\r\nContent-length: 0\r\n\r\n", Route::Mail, kBodyUrlencoded},
        // HEAD is for static files only: a page is not found.
        {"HEAD /mail/ HTTP/1.0\r\n\r\n", Route::NotFound, kBodyGetHeaders},
        {"head /page.html HTTP/1.0\r\n\r\n", Route::StaticHead, kBodyGetHeaders},
        {"GET /page.html HTTP/1.0\r\n\r\n", Route::Static, kBodyGetHeaders},
        {"PUT /mail/ HTTP/1.0\r\n\r\n", Route::NotFound, kBodyGetHeaders},
        {"GETS /mail/ HTTP/1.0\r\n\r\n", Route::NotFound, kBodyGetHeaders},
        {"GET /mail/ HTTP/1.0\n\n", Route::Mail, kBodyGetHeaders}, // bare line feeds
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.request);
        Trace t = FeedEveryWay(c.request);
        EXPECT_EQ(t.route, static_cast<int>(c.route));
        EXPECT_EQ(t.bodyMode, c.bodyMode);
        EXPECT_NE(t.state, static_cast<int>(PageState::Receiving));
    }
}

TEST_F(RequestReaderTest, GetEndsAtTheEmptyLineAndIgnoresWhatFollows) {
    const std::string head = "GET /mail/new/ HTTP/1.0\r\nUser-Agent: Mozilla/2.0\r\n\r\n";
    Trace t = FeedEveryWay(head + "User-Agent: Mozilla/5.0 (Macintosh)\r\n\r\n", head.size());
    EXPECT_EQ(t.browser, kBrowserMozilla2);
}

// Each header is fed after the request line of a GET.
TEST_F(RequestReaderTest, HeaderValues) {
    const std::string longBoundary(400, 'b');
    struct Case {
        std::string header;
        int bodyRemaining;
        int browser;
        std::string boundary;
    } cases[] = {
        {"content-LENGTH:\t 7", 7, 0, ""},
        {"X-Content-length: 5", -1, 0, ""},
        {"USER-AGENT:   Mozilla/3.0 (Macintosh; I; PPC)", -1, 0x29, ""},
        {"Content-Type: multipart/form-data; boundary=----WebKitFormBoundaryAbC", -1, 0,
         "------WebKitFormBoundaryAbC"},
        {"content-type: MULTIPART/FORM-DATA;BOUNDARY=x y", -1, 0, "--x"},
        {"Content-type: application/x-www-form-urlencoded", -1, 0, ""},
        {"Content-type: multipart/form-data; charset=x; boundary=y", -1, 0, ""},
        {"Content-type: multipart/form-data; boundary=", -1, 0, ""},
        {"Content-type: multipart/form-data; boundary=" + longBoundary, -1, 0,
         "--" + longBoundary.substr(0, 297)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.header);
        Trace t = FeedEveryWay("GET /mail/new/ HTTP/1.0\r\n" + c.header + "\r\n\r\n");
        EXPECT_EQ(t.bodyRemaining, c.bodyRemaining);
        EXPECT_EQ(t.browser, c.browser);
        EXPECT_EQ(t.boundary, c.boundary);
    }
}

// A line is cut after 4095 bytes and the rest read as a line of its own;
// a line of exactly 4095 bytes and its line end stay one line, so the
// headers do not end early.
TEST_F(RequestReaderTest, LongHeaderLinesAreCutAt4095Bytes) {
    const std::string agent = "User-Agent: Mozilla/4.0 (Macintosh)";
    for (size_t length : {4095u, 4096u}) {
        SCOPED_TRACE(length);
        std::string pad = "X-Pad: " + std::string(length - 7, 'p');
        Trace t = FeedEveryWay("GET /mail/new/ HTTP/1.0\r\n" + pad +
                               "\r\nUser-Agent: Mozilla/2.0\r\n\r\n");
        EXPECT_EQ(t.browser, kBrowserMozilla2);
    }
    // The piece after the cut is interpreted as a header of its own.
    std::string cut = "X-Pad: " + std::string(4095 - 7, 'p') + agent +
                      std::string(5000 - 4095 - agent.size(), ' ');
    ASSERT_EQ(cut.size(), 5000u);
    Trace t = FeedEveryWay("GET /mail/new/ HTTP/1.0\r\n" + cut + "\r\n\r\n");
    EXPECT_EQ(t.browser, 0x69);
}

TEST_F(RequestReaderTest, BasicCredentials) {
    AddUser("yamada", "pa ss:1");
    using request_test::Base64;
    struct Case {
        std::string value;
        int auth;
        bool user;
        const char* userName;
        const char* password;
    } cases[] = {
        {"Basic " + Base64("yamada:pa ss:1"), kAuthOk, true, "yamada", "pa ss:1"},
        {"BASIC   " + Base64("yamada:pa ss:1") + " trailing", kAuthOk, true, "yamada", "pa ss:1"},
        {"Basic " + Base64("yamada:pa ss"), kAuthRejected, false, "yamada", "pa ss"},
        {"Basic " + Base64("yamada"), kAuthRejected, false, "", ""},
        {"Basic " + Base64("yamada:"), kAuthRejected, false, "", ""},
        {"Basic", kAuthRejected, false, "", ""},
        {"Digest username=\"yamada\"", kAuthRejected, false, "", ""},
        // Names and passwords are bounded by their fields.
        {"Basic " + Base64(std::string(60, 'n') + ":" + std::string(60, 'p')), kAuthRejected, false,
         "nnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnn", "ppppppppppppppppppppppppppppppppppppppp"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        Trace t = FeedEveryWay("GET /mail/new/ HTTP/1.0\r\nAuthorization: " + c.value + "\r\n\r\n");
        EXPECT_EQ(t.auth, c.auth);
        EXPECT_EQ(t.user, c.user);
        EXPECT_EQ(t.userName, c.userName);
        EXPECT_EQ(t.password, c.password);
    }
    EXPECT_EQ(FeedEveryWay("GET /mail/new/ HTTP/1.0\r\n\r\n").auth, kAuthNone);
}

TEST_F(RequestReaderTest, PostBodyEndsWithItsCount) {
    // Without a count the request never completes.
    Trace open = FeedEveryWay("POST /mail/new/ HTTP/1.0\r\n\r\nmessage=a", kNever);
    EXPECT_EQ(open.bodyRemaining, -1);
    EXPECT_EQ(open.state, static_cast<int>(PageState::Receiving));

    Trace empty = FeedEveryWay("POST /mail/new/ HTTP/1.0\r\nContent-length: 0\r\n\r\n");
    EXPECT_EQ(empty.bodyMode, kBodyUrlencoded);
    EXPECT_EQ(empty.bodyRemaining, 0);

    // Bytes beyond the count (old browsers add a line end) are not read.
    const std::string post = Post("/mail/new/", "", "message=hi");
    Trace t = FeedEveryWay(post + "\r\nmessage=more", post.size());
    EXPECT_EQ(t.messageText, "hi\r\n");
    EXPECT_EQ(t.bodyRemaining, 0);

    // A count short of the body cuts it.
    Trace cut = FeedEveryWay(
        "POST /mail/new/ HTTP/1.0\r\nContent-length: 10\r\n\r\nmessage=abcdef",
        std::string("POST /mail/new/ HTTP/1.0\r\nContent-length: 10\r\n\r\nmessage=ab").size());
    EXPECT_EQ(cut.messageText, "ab\r\n");
}

// A count of 0 seen in the headers of a GET, or before the headers of a POST
// end, completes nothing early.
TEST_F(RequestReaderTest, CountIsOnlyReadInTheBody) {
    Trace get = FeedEveryWay(
        "GET /mail/new/ HTTP/1.0\r\nContent-length: 0\r\nUser-Agent: Mozilla/4.0\r\n\r\n");
    EXPECT_EQ(get.browser, 0x61);
    Trace post = FeedEveryWay(
        "POST /mail/new/ HTTP/1.0\r\nContent-length: 3\r\nUser-Agent: Mozilla/4.0\r\n\r\na=1");
    EXPECT_EQ(post.browser, 0x61);
    EXPECT_EQ(post.formSlots[0], "1");
}

} // namespace
