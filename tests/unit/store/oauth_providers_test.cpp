#include "store/oauth_providers.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

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

TEST(OAuthProviders, PresetsFillTheEndpoints) {
    OAuthProvider p;
    p.clientId = "kept";
    ASSERT_TRUE(oauth_preset("google", p));
    EXPECT_EQ(p.authUrl, "https://accounts.google.com/o/oauth2/v2/auth");
    EXPECT_EQ(p.tokenUrl, "https://oauth2.googleapis.com/token");
    EXPECT_EQ(p.scope, "https://mail.google.com/");
    EXPECT_EQ(p.clientId, "kept");
    ASSERT_TRUE(oauth_preset("microsoft", p));
    EXPECT_EQ(p.tokenUrl, "https://login.microsoftonline.com/common/oauth2/v2.0/token");
    EXPECT_EQ(p.scope, "https://outlook.office.com/POP.AccessAsUser.All "
                       "https://outlook.office.com/SMTP.Send offline_access");
    EXPECT_EQ(p.authParams, "");
    EXPECT_FALSE(oauth_preset("yahoo", p));
}

TEST(OAuthProviders, SecretIsPrivateAndRemovable) {
    char folder[] = "/tmp/tarnbox-oauth-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string home = folder;
    std::string why;
    ASSERT_TRUE(save_oauth_secret(home, "p", "s3cret", why)) << why;
    struct stat st {};
    ASSERT_EQ(stat(oauth_secret_path(home, "p").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(load_oauth_secret(home, "p"), "s3cret");
    ASSERT_TRUE(save_oauth_secret(home, "p", "", why));
    EXPECT_EQ(load_oauth_secret(home, "p"), "");
    EXPECT_TRUE(save_oauth_secret(home, "p", "", why)); // already gone

    OAuthProvider p;
    p.name = "p";
    p.clientId = "id";
    ASSERT_TRUE(save_oauth_providers(home, {p}, why)) << why;
    ASSERT_TRUE(find_oauth_provider(home, "p"));
    EXPECT_EQ(find_oauth_provider(home, "p")->clientId, "id");
    EXPECT_FALSE(find_oauth_provider(home, "q"));
    std::filesystem::remove_all(home);
}

} // namespace
