#include "store/oauth_providers.h"

#include <gtest/gtest.h>

namespace {

TEST(OAuthProviders, FileRoundTripSkipsWhatCannotBeAName) {
    const std::string text = "# providers\n"
                             "[google]\nclient_id = abc.apps\nscope = https://mail.google.com/\n"
                             "auth_params = access_type=offline&prompt=consent\n"
                             "\n[../evil]\nclient_id = x\n"
                             "[google]\nclient_id = second\n"
                             "[ms]\n  token_url =  https://t.example/token  \nunknown = 1\n"
                             "stray line\n";
    const std::vector<OAuthProvider> all = parse_oauth_providers("stray = before\n" + text);
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].name, "google");
    EXPECT_EQ(all[0].clientId, "abc.apps");
    EXPECT_EQ(all[0].authParams, "access_type=offline&prompt=consent");
    EXPECT_EQ(all[1].name, "ms");
    EXPECT_EQ(all[1].tokenUrl, "https://t.example/token");
    const std::vector<OAuthProvider> again = parse_oauth_providers(format_oauth_providers(all));
    ASSERT_EQ(again.size(), 2u);
    EXPECT_EQ(again[0].scope, all[0].scope);
    EXPECT_EQ(again[1].tokenUrl, all[1].tokenUrl);
}

TEST(OAuthProviders, Names) {
    for (const char* ok : {"google", "ms-365", "a_b.c", "X1"})
        EXPECT_TRUE(oauth_provider_name_valid(ok)) << ok;
    for (const std::string bad : {"", ".hidden", "a/b", "a b", "..", "a\nb"})
        EXPECT_FALSE(oauth_provider_name_valid(bad)) << bad;
    EXPECT_TRUE(oauth_provider_name_valid(std::string(40, 'a')));
    EXPECT_FALSE(oauth_provider_name_valid(std::string(41, 'a')));
}

} // namespace
