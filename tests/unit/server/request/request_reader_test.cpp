#include "server/request/forwarded_address.h"
#include "server/request/request_test_util.h"

namespace {

class RequestReaderTest : public request_test::RequestTest {};

TEST(DetectBrowserTest, FlagsFromRealAgents) {
    for (const auto& k : SERVER_CASES("cases/browser_flags.ref"))
        EXPECT_EQ(DetectBrowser(k.at(0).c_str()), std::stoi(k.at(1), nullptr, 0)) << k.at(0);
}

// Request lines, header values, long lines, where a request ends, and
// credentials.
TEST_F(RequestReaderTest, RequestsAndTheirTraces) {
    WriteFile(home + "/html/page.html", "<html></html>");
    AddUser("yamada", "pa ss:1");
    EXPECT_GOLDEN("requests.ref", TracesOf(GOLDEN_PATH("cases/requests.cases")));
}

TEST(ForwardedAddress, BelievedOnlyFromANamedProxy) {
    ClearTrustedProxies();
    ASSERT_TRUE(AddTrustedProxy("127.0.0.1"));
    ASSERT_TRUE(AddTrustedProxy("::1"));
    EXPECT_FALSE(AddTrustedProxy("proxy.example")) << "names would need a resolver";
    EXPECT_FALSE(AddTrustedProxy("127.0.0.1:80"));
    for (const auto& k : SERVER_CASES("cases/forwarded.ref")) {
        SCOPED_TRACE(k.at(0) + " says" + k.at(1));
        ConnectionPtr c(NewConnection(-1));
        c->clientAddress = AddressOf(k.at(0).c_str());
        ReadForwardedAddress(*c, k.at(1).c_str());
        EXPECT_EQ(ThrottleAddress(c->clientAddress), k.at(2));
    }
    ClearTrustedProxies();
}

} // namespace
