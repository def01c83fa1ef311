#include "store/login_sessions.h"

#include <gtest/gtest.h>
#include <set>
#include <string>

namespace {

class LoginSessions : public ::testing::Test {
protected:
    void SetUp() override { session_close_all(); }
    void TearDown() override { session_close_all(); }
    SessionGrant Open(const char* user, const char* cookie = nullptr, int64_t now = kNow) {
        SessionGrant g;
        EXPECT_TRUE(session_open(user, cookie, now, g));
        return g;
    }
    static constexpr int64_t kNow = 1'000'000;
};

TEST_F(LoginSessions, CookieProvesTheSessionTheAddressNames) {
    SessionGrant g = Open("taro");
    ASSERT_EQ(std::string(g.cookie.text).size(), 32u);
    EXPECT_GT(g.check, 0);
    EXPECT_TRUE(session_valid("taro", g.check, g.cookie.text, kNow));
    std::string shorter(g.cookie.text, 31), other = g.cookie.text;
    other[0] = other[0] == 'a' ? 'b' : 'a';
    for (const std::string& wrong : {std::string(), shorter, other, shorter + "00"})
        EXPECT_FALSE(session_valid("taro", g.check, wrong.c_str(), kNow)) << wrong;
    EXPECT_FALSE(session_valid("taro", g.check + 1, g.cookie.text, kNow));
    EXPECT_FALSE(session_valid("Taro", g.check, g.cookie.text, kNow));
    EXPECT_FALSE(session_valid("taro", 0, g.cookie.text, kNow));

    // Idle for an hour since the last list, it ends.
    EXPECT_TRUE(session_live("taro", g.check, kNow + 3599));
    EXPECT_FALSE(session_live("taro", g.check, kNow + 3600));
    session_touch("taro", g.check, kNow + 3000);
    EXPECT_TRUE(session_valid("taro", g.check, g.cookie.text, kNow + 6599));
    EXPECT_FALSE(session_valid("taro", g.check, g.cookie.text, kNow + 6600));
    // An ended session is not brought back by a late list.
    session_touch("taro", g.check, kNow + 7000);
    EXPECT_FALSE(session_live("taro", g.check, kNow + 7000));
}

TEST_F(LoginSessions, SeveralLoginsLiveSideBySide) {
    SessionGrant desk = Open("taro"), phone = Open("taro");
    EXPECT_NE(desk.check, phone.check);
    EXPECT_STRNE(desk.cookie.text, phone.cookie.text);
    // A second login in the first browser keeps its cookie, so both of its
    // tabs go on working; a cookie of another user is not taken over.
    SessionGrant tab = Open("taro", desk.cookie.text);
    EXPECT_STREQ(tab.cookie.text, desk.cookie.text);
    SessionGrant hanako = Open("hanako", desk.cookie.text);
    EXPECT_STRNE(hanako.cookie.text, desk.cookie.text);
    SessionGrant planted = Open("taro", "0123456789abcdef0123456789abcdef");
    EXPECT_STRNE(planted.cookie.text, "0123456789abcdef0123456789abcdef");
    for (const SessionGrant* g : {&desk, &phone, &tab})
        EXPECT_TRUE(session_valid("taro", g->check, g->cookie.text, kNow));
    EXPECT_TRUE(session_of_browser("taro", desk.cookie.text, kNow));
    EXPECT_FALSE(session_of_browser("hanako", desk.cookie.text, kNow));

    // Logout ends one session; the cookie stays while the other tab uses it.
    EXPECT_TRUE(session_close("taro", desk.check, kNow));
    EXPECT_FALSE(session_valid("taro", desk.check, desk.cookie.text, kNow));
    EXPECT_TRUE(session_valid("taro", tab.check, tab.cookie.text, kNow));
    EXPECT_FALSE(session_close("taro", tab.check, kNow));
    EXPECT_TRUE(session_valid("taro", phone.check, phone.cookie.text, kNow));
    session_close_user("taro");
    EXPECT_FALSE(session_live("taro", phone.check, kNow));
    EXPECT_TRUE(session_live("hanako", hanako.check, kNow));
}

TEST_F(LoginSessions, FormTokensBelongToOneSessionOrOneUser) {
    SessionGrant a = Open("taro"), b = Open("taro");
    SessionKeyText ta, tb, none;
    ASSERT_TRUE(session_form_token("taro", a.check, ta));
    ASSERT_TRUE(session_form_token("taro", b.check, tb));
    EXPECT_STRNE(ta.text, tb.text);
    EXPECT_STRNE(ta.text, a.cookie.text);
    EXPECT_FALSE(session_form_token("hanako", a.check, none));
    SessionKeyText basic1, basic2, other;
    basic_form_token("taro", basic1);
    basic_form_token("taro", basic2);
    basic_form_token("hanako", other);
    EXPECT_STREQ(basic1.text, basic2.text);
    EXPECT_STRNE(basic1.text, other.text);
    EXPECT_EQ(std::string(basic1.text).size(), 32u);
}

TEST_F(LoginSessions, FullTableGivesWayToTheLongestIdle) {
    SessionGrant oldest = Open("u0", nullptr, kNow);
    for (int i = 1; i < kMaxSessions; i++)
        Open(("u" + std::to_string(i)).c_str(), nullptr, kNow + 1);
    SessionGrant newest = Open("late", nullptr, kNow + 2);
    EXPECT_FALSE(session_live("u0", oldest.check, kNow + 2));
    EXPECT_TRUE(session_live("late", newest.check, kNow + 2));
}

} // namespace
