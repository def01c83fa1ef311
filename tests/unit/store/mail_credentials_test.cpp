#include "scratch_folder.h"
#include "server/server_cases.h"
#include "store/mail_credentials.h"
#include "store/user_table.h"

#include "store/oauth_providers.h"
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class MailCredentialsTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder = MakeScratchFolder("credentials");
        ASSERT_FALSE(folder.empty());
        file = folder + "/mail-credentials";
        key = folder + "/credentials.key";
        store.set_paths(file, key);
    }
    void TearDown() override {
        clear_users(users);
        std::filesystem::remove_all(folder);
    }
    void add_user(const char* owner, const char* id2 = nullptr) {
        auto* r = new UserRecord();
        strcpy(r->set[0].id, owner);
        strcpy(r->set[0].pop3_name, "pop.example.jp");
        if (id2) {
            strcpy(r->set[1].id, id2);
            strcpy(r->set[1].pop3_name, "pop.other.example");
        }
        append_user(users, r);
    }
    // The store as a later start reads it, which must load or must not.
    MailCredentials opened(bool loads = true) {
        MailCredentials again;
        again.set_paths(file, key);
        std::string why;
        EXPECT_EQ(again.load(why), loads) << why;
        return again;
    }

    std::string folder, file, key, why;
    MailCredentials store;
    UserTable users;
};

TEST_F(MailCredentialsTest, SecretsRoundTripSealedUnderAKeyOfTheHome) {
    ASSERT_TRUE(store.load(why)) << "no file yet is an empty store";
    EXPECT_EQ(access(key.c_str(), F_OK), -1) << "the key is made on the first write only";
    ASSERT_TRUE(store.put("taro", "taro", "pop.example.jp", "smtp-password", "s3cret\xE9", why));
    struct stat st {};
    ASSERT_EQ(stat(key.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(st.st_size, 32);
    EXPECT_EQ(golden::read(file).find("s3cret"), std::string::npos) << "nothing readable at rest";

    MailCredentials again = opened();
    EXPECT_EQ(again.get("taro", "taro", "pop.example.jp", "smtp-password"), "s3cret\xE9");
    EXPECT_EQ(again.get("taro", "taro", "pop.other.example", "smtp-password"), "")
        << "another mailbox never gets it";
    EXPECT_EQ(again.get("hanako", "taro", "pop.example.jp", "smtp-password"), "")
        << "nor another gateway user naming the same mailbox";
    ASSERT_TRUE(again.put("taro", "taro", "pop.example.jp", "smtp-password", "", why));
    EXPECT_EQ(opened().size(), 0u) << "an empty value removes the entry";
}

TEST_F(MailCredentialsTest, AnAlteredFileOrAnotherKeyIsRefusedAndNeverOverwritten) {
    ASSERT_TRUE(store.put("taro", "taro", "pop.example.jp", "smtp-user", "t@example.jp", why));
    const std::string sealed = golden::read(file);
    const std::string goodKey = golden::read(key);
    for (size_t at : {size_t{0}, size_t{5}, sealed.size() / 2, sealed.size() - 1}) {
        SCOPED_TRACE(at);
        std::string bad = sealed;
        bad[at] = static_cast<char>(bad[at] ^ 0x01);
        WriteFile(file, bad);
        MailCredentials damaged = opened(false);
        EXPECT_EQ(damaged.get("taro", "taro", "pop.example.jp", "smtp-user"), "");
        EXPECT_FALSE(damaged.put("taro", "taro", "pop.example.jp", "smtp-user", "x", why));
        EXPECT_EQ(golden::read(file), bad)
            << "what could not be read is left for the administrator";
    }
    WriteFile(file, sealed);
    WriteFile(key, std::string(32, 'k'));
    opened(false);
    WriteFile(key, goodKey.substr(0, 31));
    opened(false); // a short key
    WriteFile(key, goodKey);
    EXPECT_EQ(opened().get("taro", "taro", "pop.example.jp", "smtp-user"), "t@example.jp");
}

TEST_F(MailCredentialsTest, PruneKeepsWhatTheSetsStillName) {
    add_user("taro", "work");
    add_user("hanako");
    ASSERT_TRUE(store.put("taro", "work", "pop.other.example", "smtp-user", "w", why));
    ASSERT_TRUE(store.put("taro", "taro", "pop.example.jp", "smtp-user", "t", why));
    ASSERT_TRUE(store.put("hanako", "hanako", "pop.example.jp", "smtp-user", "h", why));
    ASSERT_TRUE(store.prune(users, why));
    EXPECT_EQ(opened().size(), 3u);

    strcpy(find_user(users, "taro")->set[1].id, "private"); // Settings 2 now reads another box
    remove_user(users, "hanako");
    ASSERT_TRUE(store.prune(users, why));
    MailCredentials again = opened();
    EXPECT_EQ(again.size(), 1u);
    EXPECT_EQ(again.get("taro", "taro", "pop.example.jp", "smtp-user"), "t");
}

TEST(SealedCredentials, EmptyAndLargeTextsRoundTrip) {
    const unsigned char key[32] = {1, 2, 3};
    for (const std::string& plain : {std::string(), std::string(100000, '\0')}) {
        std::string back = "x";
        ASSERT_TRUE(open_credentials(seal_credentials(plain, key), key, back));
        EXPECT_EQ(back, plain);
    }
    std::string back;
    EXPECT_FALSE(open_credentials("TBC1", key, back));
    EXPECT_NE(seal_credentials("a", key), seal_credentials("a", key)) << "a fresh nonce each time";
}

TEST(OAuthProviders, FileRoundTripSkipsWhatCannotBeAName) {
    // A second [google], a name that is a path and unknown lines: skipped.
    const std::string kept = format_oauth_providers(
        parse_oauth_providers("stray = before\n" + GOLDEN("oauth_providers.txt")));
    EXPECT_GOLDEN("oauth_providers.ref", kept);
    EXPECT_EQ(format_oauth_providers(parse_oauth_providers(kept)), kept);
    for (const auto& c : SERVER_CASES("oauth_provider_names.cases"))
        EXPECT_EQ(oauth_provider_name_valid(c.at(1)), c.at(0) == "1") << c.at(1);
}

} // namespace
