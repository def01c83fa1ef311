// The pieces of OAuth2 that need no provider: the XOAUTH2 response, PKCE,
// which endpoints may be called, the authorization URL and the token
// endpoint's answers.
#include "mail/mail_golden.h"
#include "mail/oauth/oauth_client.h"

namespace {

// The response itself is proven where real servers take it (the XOAUTH2
// logins of tests/integration/oauth_test.py).
TEST(Xoauth2, RefusalChallenge) {
    for (const auto& k : SERVER_CASES("challenges.ref"))
        EXPECT_EQ(xoauth2_challenge_text(k.at(0).c_str(), std::stoul(k.at(1))), k.at(2)) << k[0];
}

// The challenge is held against the verifier by the provider of
// tests/integration/oauth_test.py.
TEST(Pkce, FreshVerifiers) {
    const std::string a = pkce_verifier(), b = pkce_verifier();
    EXPECT_EQ(a.size(), 43u);
    EXPECT_NE(a, b);
    EXPECT_EQ(
        a.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_"),
        std::string::npos);
    EXPECT_GE(oauth_random_state().size(), 32u);
}

TEST(OAuthUrl, PlainHttpOnlyToLoopbackAndTheFlowEscaped) {
    for (const auto& t : CASE_BLOCKS("endpoint_urls.cases"))
        EXPECT_EQ(oauth_url_allowed(t.at(0).c_str()), t.at(1) == "1") << t[0];
    // The authorization URL carries the flow escaped.
    for (const auto& t : CASE_BLOCKS("authorization_urls.cases")) {
        OAuthProvider p;
        p.clientId = t.at(0);
        p.authUrl = t.at(1);
        p.scope = t.at(2);
        p.redirectUrl = t.at(3);
        p.authParams = t.at(4);
        EXPECT_EQ(authorization_url(p, t.at(5), t.at(6)), t.at(7)) << t[1];
    }
}

TEST(TokenAnswer, TokensErrorsAndOddAnswers) {
    for (const auto& record : CASE_BLOCKS("token_answers.cases")) {
        SCOPED_TRACE(record.at(0));
        TokenAnswer a;
        mail_golden::Play(
            record, {{"answer", [&](S x) { a = parse_token_answer(std::stol(x), x.substr(4)); }},
                     {"ok", [&](S x) { EXPECT_EQ(a.ok, x == "1"); }},
                     {"access", [&](S x) { EXPECT_EQ(a.access, x); }},
                     {"refresh", [&](S x) { EXPECT_EQ(a.refresh, x); }},
                     {"expires", [&](S x) { EXPECT_EQ(a.expiresIn, std::stoi(x)); }},
                     {"error", [&](S x) { EXPECT_EQ(a.error, x); }}});
    }
}

} // namespace
