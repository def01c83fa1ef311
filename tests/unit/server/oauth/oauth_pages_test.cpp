// What the callback's state stands for, and how the two paths are read.
#include "base/text/messages.h"
#include "server/oauth/oauth_pages.h"
#include "server/route/page_fixture.h"

namespace {

OAuthPending Pending(const std::string& state, int64_t created) {
    OAuthPending p;
    p.state = state;
    p.owner = "taro";
    p.created = created;
    return p;
}

TEST(OAuthState, TakenOnceAndOnlyWhileYoung) {
    oauth_remember(Pending("s-young", 1000));
    oauth_remember(Pending("s-old", 1000));
    OAuthPending got;
    EXPECT_FALSE(oauth_take("s-other", 1001, got));
    EXPECT_FALSE(oauth_take("", 1001, got));
    ASSERT_TRUE(oauth_take("s-young", 1000 + kOAuthStateSeconds, got));
    EXPECT_EQ(got.owner, "taro");
    EXPECT_FALSE(oauth_take("s-young", 1001, got));
    // Too old is gone as well, not kept for a later try.
    EXPECT_FALSE(oauth_take("s-old", 1001 + kOAuthStateSeconds, got));
    EXPECT_FALSE(oauth_take("s-old", 1001, got));
    // Of many pending connects the newest are kept.
    for (int i = 0; i < 300; i++) oauth_remember(Pending("many-" + std::to_string(i), 5000));
    EXPECT_FALSE(oauth_take("many-0", 5001, got));
    EXPECT_TRUE(oauth_take("many-299", 5001, got));
}

TEST(OAuthCallbackQuery, ValuesDecoded) {
    for (const auto& k : SERVER_CASES("cases/callback_queries.ref"))
        EXPECT_EQ(oauth_query_value(k.at(0), k.at(1).c_str()), k.at(2)) << k[0] << " " << k[1];
}

class OAuthRouteTest : public PageTest {};

TEST_F(OAuthRouteTest, ConnectAndCallbackPaths) {
    for (const auto& k : SERVER_CASES("cases/oauth_routes.ref")) {
        SCOPED_TRACE(k.at(0));
        data_store().settings.multiple_addresses = std::stoi(k.at(1));
        ConnectionPtr c = Capture();
        oauth_route(*c, (k.at(0) + " HTTP/1.0").c_str());
        EXPECT_EQ(c->route, RouteNamed(k.at(2)));
        if (c->route == Route::OAuthConnect) {
            EXPECT_EQ(std::to_string(c->settingsIndex), k.at(3));
        } else if (c->route == Route::OAuthCallback) {
            EXPECT_EQ(c->deleteList, k.at(3));
        }
    }
}

// The block of texts moves as one when the table grows; its ends must
// still be the texts these pages mean (the OAuth integration test finds the
// ones between on the English pages).
TEST(OAuthMessages, IndexesNameTheirTexts) {
    EXPECT_STREQ(Message(kMsgOAuthLogin, 1), "OAuth2 login");
    EXPECT_STREQ(Message(kMsgOAuthNotUsed, 1), "These settings do not use OAuth2.");
    EXPECT_LT(kMsgOAuthNotUsed, kMessageCount);
}

} // namespace
