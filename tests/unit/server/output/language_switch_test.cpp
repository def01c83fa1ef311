// Where a page's language switch leads, for the requests pages answer.
#include "server/output/language_switch.h"

#include <gtest/gtest.h>

namespace {

TEST(LanguageSwitchTest, SamePlaceInTheOtherLanguage) {
    const std::string login = "?user=taro?check=5";
    const struct {
        const char* target;
        bool posted, english, loggedIn;
        const char* expected;
    } cases[] = {
        {"/", false, false, false, "/?lang=eng"},
        {"/?lang=eng", false, true, false, "/"},
        {"/?lang=en", false, true, false, "/"},
        // A message keeps its number and "show pictures"; the login is
        // rebuilt in the order the pages write it.
        {"/mail/b12.html?images?user=taro?check=5", false, false, true,
         "/mail/b12.html?images?user=taro?check=5?lang=eng"},
        {"/mail/12.html?user=taro?check=5?lang=eng", false, true, true,
         "/mail/12.html?user=taro?check=5"},
        {"/mail/write/index.html?to=a%40b.c?user=taro?check=5", false, false, true,
         "/mail/write/index.html?to=a%40b.c?user=taro?check=5?lang=eng"},
        // Deletions and additions are not done twice.
        {"/mail/index.html?delete=3,tok?user=taro?check=5", false, false, true,
         "/mail/index.html?user=taro?check=5?lang=eng"},
        {"/mail/sent/index.html?delete=2,x?user=taro?check=5", false, false, true,
         "/mail/sent/index.html?user=taro?check=5?lang=eng"},
        {"/mail/book/index.html?back=a0001?add=T%20%3Ct@b.c%3E?user=taro?check=5", false, false,
         true, "/mail/book/index.html?back=a0001?user=taro?check=5?lang=eng"},
        // Pages that act on arrival, and the answer to the login form.
        {"/mail/setup/delete2.html?user=taro?check=5", true, false, true,
         "/mail/index.html?user=taro?check=5?lang=eng"},
        {"/mail/oauth/callback?code=x?state=y", false, false, true,
         "/mail/index.html?user=taro?check=5?lang=eng"},
        {"/index.html", true, false, true, "/mail/index.html?user=taro?check=5?lang=eng"},
        {"/mail/write/index.html?user=taro?check=5", true, false, true,
         "/mail/index.html?user=taro?check=5?lang=eng"},
        {"/index.html", true, false, false, "/index.html?lang=eng"},
        {"/mail/book/index.html?user=taro?check=5", true, false, true,
         "/mail/book/index.html?user=taro?check=5?lang=eng"},
        {"/mail/logout/index.html?user=taro?check=5", false, false, true, "/?lang=eng"},
        // Nothing of the request may leave the attribute or the gateway.
        {"/mail/1.html?x=\"><script>?user=taro?check=5", false, false, true,
         "/mail/1.html?x=%22%3E%3Cscript%3E?user=taro?check=5?lang=eng"},
        {"//evil.example/", false, false, false, "/?lang=eng"},
        {"/\\evil.example/", false, false, false, "/?lang=eng"},
        {"http://evil.example/", false, false, false, "/?lang=eng"},
        {"", false, false, true, "/?user=taro?check=5?lang=eng"},
        {"/mail/1.html?\x82\xa0'", false, false, false, "/mail/1.html?%82%A0%27?lang=eng"},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.target);
        const std::string query = login + (k.english ? "?lang=eng" : "");
        EXPECT_EQ(language_switch_target(k.target, k.posted, k.english, k.loggedIn,
                                         k.loggedIn ? query : std::string()),
                  k.expected);
    }
}

} // namespace
