#include "server/request/forwarded_address.h"
#include "server/request/request_test_util.h"
#include "server/route/page_fixture.h"
#include "server/server_cases.h"
#include "store/login_throttle.h"

namespace {

using request_test::kNever;
using request_test::Trace;

class RequestReaderTest : public request_test::RequestTest {};

TEST(DetectBrowserTest, FlagsFromRealAgents) {
    for (const auto& k : SERVER_CASES("cases/browser_flags.ref"))
        EXPECT_EQ(DetectBrowser(k.at(0).c_str()), std::stoi(k.at(1), nullptr, 0)) << k.at(0);
}

TEST_F(RequestReaderTest, RequestLineMethodsInAnyCase) {
    std::ofstream(html / "page.html") << "<html></html>";
    for (const auto& k : SERVER_CASES("cases/request_lines.ref")) {
        SCOPED_TRACE(k.at(0));
        Trace t = FeedEveryWay(k.at(0));
        EXPECT_EQ(t.route, static_cast<int>(RouteNamed(k.at(1))));
        EXPECT_EQ(t.bodyMode, std::stoi(k.at(2)));
        EXPECT_NE(t.state, static_cast<int>(PageState::Receiving));
    }
}

// Each header is fed after the request line of a GET.
TEST_F(RequestReaderTest, HeaderValues) {
    const std::string longBoundary(400, 'b');
    auto cases = SERVER_CASES("cases/header_values.ref");
    cases.push_back({"Content-type: multipart/form-data; boundary=" + longBoundary, "-1", "0",
                     "--" + longBoundary.substr(0, 297)});
    for (const auto& k : cases) {
        SCOPED_TRACE(k.at(0));
        Trace t = FeedEveryWay("GET /mail/new/ HTTP/1.0\r\n" + k.at(0) + "\r\n\r\n");
        EXPECT_EQ(t.bodyRemaining, std::stoi(k.at(1)));
        EXPECT_EQ(t.browser, std::stoi(k.at(2), nullptr, 0));
        EXPECT_EQ(t.boundary, k.at(3));
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
    for (const auto& k : SERVER_CASES("cases/credentials.ref")) {
        const std::string value = k.at(0) + request_test::Base64(k.at(1)) + k.at(2);
        SCOPED_TRACE(value);
        Trace t = FeedEveryWay("GET /mail/new/ HTTP/1.0\r\nAuthorization: " + value + "\r\n\r\n");
        EXPECT_EQ(t.auth, std::stoi(k.at(3)));
        EXPECT_EQ(t.user, k.at(4) == "1");
        EXPECT_EQ(t.userName, k.at(5));
        EXPECT_EQ(t.password, k.at(6));
    }
    EXPECT_EQ(FeedEveryWay("GET /mail/new/ HTTP/1.0\r\n\r\n").auth, kAuthNone);
}

TEST_F(RequestReaderTest, WhereARequestEnds) {
    for (const auto& k : SERVER_CASES("cases/request_ends.ref")) {
        SCOPED_TRACE(k.at(0));
        Trace t = FeedEveryWay(k.at(0) + k.at(1), k.at(2) == "1" ? k.at(0).size() : kNever);
        EXPECT_EQ(t.state == static_cast<int>(PageState::Receiving), k.at(2) == "0");
        const auto expect = [&k](size_t i, const std::string& got) {
            EXPECT_TRUE(k.at(i) == "*" || got == k.at(i)) << i << ": " << got;
        };
        expect(3, std::to_string(t.bodyMode));
        expect(4, std::to_string(t.bodyRemaining));
        expect(5, t.messageText);
        char browser[8];
        snprintf(browser, sizeof browser, "0x%02x", t.browser);
        expect(6, browser);
        expect(7, t.formSlots[0]);
    }
}

TEST(ForwardedAddress, BelievedOnlyFromANamedProxy) {
    ClearTrustedProxies();
    ASSERT_TRUE(AddTrustedProxy("127.0.0.1"));
    ASSERT_TRUE(AddTrustedProxy("::1"));
    EXPECT_FALSE(AddTrustedProxy("proxy.example")) << "names would need a resolver";
    EXPECT_FALSE(AddTrustedProxy("127.0.0.1:80"));
    for (const auto& k : SERVER_CASES("cases/forwarded.ref")) {
        SCOPED_TRACE(k.at(0) + " says" + k.at(1));
        auto c = std::make_unique<Connection>();
        c->clientAddress = AddressOf(k.at(0).c_str());
        ReadForwardedAddress(*c, k.at(1).c_str());
        EXPECT_EQ(ThrottleAddress(c->clientAddress), k.at(2));
    }
    ClearTrustedProxies();
}

} // namespace
