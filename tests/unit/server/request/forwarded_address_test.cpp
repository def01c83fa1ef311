#include "server/login/login_throttle.h"
#include "server/request/forwarded_address.h"

#include <arpa/inet.h>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>

namespace {

sockaddr_storage Address(const char* text) {
    sockaddr_storage a{};
    auto* v4 = reinterpret_cast<sockaddr_in*>(&a);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&a);
    if (inet_pton(AF_INET, text, &v4->sin_addr) == 1)
        v4->sin_family = AF_INET;
    else if (inet_pton(AF_INET6, text, &v6->sin6_addr) == 1)
        v6->sin6_family = AF_INET6;
    return a;
}

TEST(ForwardedAddress, BelievedOnlyFromANamedProxy) {
    ClearTrustedProxies();
    ASSERT_TRUE(AddTrustedProxy("127.0.0.1"));
    ASSERT_TRUE(AddTrustedProxy("::1"));
    EXPECT_FALSE(AddTrustedProxy("proxy.example")) << "names would need a resolver";
    EXPECT_FALSE(AddTrustedProxy("127.0.0.1:80"));
    const struct {
        const char* peer;
        const char* header;
        const char* seen; // the address the throttle then counts
    } cases[] = {
        {"127.0.0.1", " 203.0.113.7", "203.0.113.7"},
        {"::ffff:127.0.0.1", "203.0.113.7\r\n", "203.0.113.7"}, // a dual-stack listener's peer
        {"::1", "\t2001:db8::5", "2001:db8::5"},
        {"192.0.2.50", " 203.0.113.7", "192.0.2.50"},         // anybody may send the header
        {"127.0.0.1", " 203.0.113.7, 10.0.0.1", "127.0.0.1"}, // a list is no address
        {"127.0.0.1", " unknown", "127.0.0.1"},
        {"127.0.0.1", "", "127.0.0.1"},
        {"127.0.0.1", " 1111:2222:3333:4444:5555:6666:7777:8888:9999", "127.0.0.1"},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(std::string(k.peer) + " says" + k.header);
        auto c = std::make_unique<Connection>();
        c->clientAddress = Address(k.peer);
        ReadForwardedAddress(*c, k.header);
        EXPECT_EQ(ThrottleAddress(c->clientAddress), k.seen);
    }
    ClearTrustedProxies();
}

} // namespace
