#include "server/login/login.h"
#include "server/login/login_throttle.h"
#include "server/route/page_fixture.h"

#include <arpa/inet.h>
#include <netinet/in.h>

namespace {

using Clock = LoginThrottle::Clock;
using std::chrono::seconds;

TEST(LoginThrottle, ANameIsCountedPerAddressAndAnAddressAcrossNames) {
    LoginThrottle t;
    const Clock::time_point start = Clock::now();
    for (int i = 0; i < 4; i++) t.failed("taro", "10.0.0.1", start);
    EXPECT_TRUE(t.allowed("taro", "10.0.0.1", start));
    t.failed("taro", "10.0.0.1", start);
    EXPECT_EQ(t.waitLeft("taro", "10.0.0.1", start + std::chrono::milliseconds(500)), 2);
    EXPECT_TRUE(t.allowed("taro", "10.0.0.1", start + seconds(2)));
    // Nobody else is held up: not taro elsewhere, not a colleague behind
    // the same address.
    EXPECT_TRUE(t.allowed("taro", "10.0.0.2", start));
    EXPECT_TRUE(t.allowed("hanako", "10.0.0.1", start));
    // A guesser walking through names from one address is held up after
    // twenty, whatever the names.
    for (int i = 0; i < 15; i++) t.failed("guess" + std::to_string(i), "10.0.0.1", start);
    EXPECT_FALSE(t.allowed("hanako", "10.0.0.1", start));
    EXPECT_TRUE(t.allowed("hanako", "10.0.0.3", start));
    // A login of its own from there does not wipe that count.
    t.succeeded("mallory", "10.0.0.1");
    EXPECT_FALSE(t.allowed("hanako", "10.0.0.1", start));
    // Bounded, and forgotten after a quiet hour.
    EXPECT_EQ(LoginThrottle::waitSeconds(6), 4);
    EXPECT_EQ(LoginThrottle::waitSeconds(1000), 300);
    EXPECT_EQ(LoginThrottle::waitSeconds(1000, LoginThrottle::kFreeAddressFailures), 300);
    const Clock::time_point later = start + std::chrono::hours(2);
    t.failed("hanako", "10.0.0.1", later);
    EXPECT_TRUE(t.allowed("hanako", "10.0.0.1", later));
    t.succeeded("taro", "10.0.0.1");
    EXPECT_TRUE(t.allowed("taro", "10.0.0.1", later));
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
    EXPECT_GT(c->throttleWait, 0);
    RefuseLogin(*c);
    EXPECT_NE(out.find("Too many failed logins: please wait 2 seconds before you try again."),
              std::string::npos)
        << out;
    login_throttle().clear();
    EXPECT_NE(CheckLogin(*c), nullptr);
}

} // namespace
