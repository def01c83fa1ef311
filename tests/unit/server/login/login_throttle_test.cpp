#include "server/login/login.h"
#include "server/login/login_throttle.h"
#include "server/route/page_fixture.h"

#include <arpa/inet.h>
#include <netinet/in.h>

namespace {

using Clock = LoginThrottle::Clock;
using std::chrono::seconds;

TEST(LoginThrottle, FiveFreeFailuresThenGrowingWaits) {
    LoginThrottle t;
    const Clock::time_point start = Clock::now();
    for (int i = 0; i < 4; i++) t.failed("taro", "10.0.0.1", start);
    EXPECT_TRUE(t.allowed("taro", "10.0.0.1", start));
    t.failed("taro", "10.0.0.1", start);
    EXPECT_FALSE(t.allowed("taro", "10.0.0.1", start + seconds(1)));
    EXPECT_TRUE(t.allowed("taro", "10.0.0.1", start + seconds(2)));
    // Each key counts alone: another name from another address is free.
    EXPECT_TRUE(t.allowed("hanako", "10.0.0.2", start));
    EXPECT_FALSE(t.allowed("hanako", "10.0.0.1", start));
    EXPECT_FALSE(t.allowed("taro", "10.0.0.2", start));
    EXPECT_EQ(LoginThrottle::waitSeconds(6), 4);
    EXPECT_EQ(LoginThrottle::waitSeconds(100), 300);
    t.succeeded("taro", "10.0.0.1");
    EXPECT_TRUE(t.allowed("taro", "10.0.0.1", start));
}

class LoginThrottlePage : public PageTest {};

TEST_F(LoginThrottlePage, TheRightPasswordWaitsToo) {
    AddUser("taro");
    ConnectionPtr c = Capture();
    auto* a = reinterpret_cast<sockaddr_in*>(&c->clientAddress);
    a->sin_family = AF_INET;
    inet_pton(AF_INET, "192.0.2.7", &a->sin_addr);
    strcpy(c->userName, "taro");
    strcpy(c->password, "wrong");
    for (int i = 0; i < 5; i++) EXPECT_EQ(CheckLogin(*c), nullptr);
    strcpy(c->password, "pw");
    EXPECT_EQ(CheckLogin(*c), nullptr);
    login_throttle().clear();
    EXPECT_NE(CheckLogin(*c), nullptr);
}

} // namespace
