#include "mail/mail_golden.h"
#include "output_test_util.h"
#include "page/output/common_links.h"
#include "page/output/language_switch.h"
#include "page/output/page_frame.h"
#include "page/output/page_policy.h"
#include "page/output/send_status.h"
#include "page/output/style_sheet.h"

#include <openssl/evp.h>
#include <regex>

namespace {

using CommonLinksTest = OutputTest;

TEST_F(CommonLinksTest, WritesEachLinkWithTheLoginQuery) {
    c->english = 1;
    for (const auto& k : SERVER_CASES("cases/common_links.ref")) {
        strcpy(c->loginQuery, k.at(1).c_str());
        settings().close_browser = std::stoi(k.at(2));
        c->browser = static_cast<uint16_t>(std::stoi(k.at(3), nullptr, 0));
        c->route = RouteNamed(k.at(4));
        out.clear();
        (k.at(0) == "setup" ? SetupLinks : ComposeLinks)(*c);
        EXPECT_EQ(out, k.at(5));
    }
}

// Where a page's language switch leads, for the requests pages answer.
TEST(LanguageSwitchTest, SamePlaceInTheOtherLanguage) {
    for (const auto& k : SERVER_CASES("cases/language_switch.ref")) {
        SCOPED_TRACE(k.at(0));
        const bool english = k.at(2) == "1", loggedIn = k.at(3) == "1";
        const std::string query = std::string("?user=taro?check=5") + (english ? "?lang=eng" : "");
        EXPECT_EQ(language_switch_target(k.at(0), k.at(1) == "1", english, loggedIn,
                                         loggedIn ? query : std::string()),
                  k.at(4));
    }
}

using PageFrameTest = OutputTest;

TEST_F(PageFrameTest, BeginPageWritesPartsAndTheAdministratorsColours) {
    settings().page_colours[3] = 0x0a0b0c;
    settings().page_colours[1] = 0xabcdef;
    for (const auto& k : SERVER_CASES("cases/begin_page.ref")) {
        settings().background_mode = std::stoi(k.at(0));
        strcpy(settings().background_image, k.at(1).c_str());
        settings().colour_flags = std::stoi(k.at(2));
        out.clear();
        BeginPage(*c, std::stoi(k.at(3)));
        EXPECT_EQ(out, mail_golden::Replaced(k.at(4), "[head]", page_head_lines()));
    }
}

TEST_F(PageFrameTest, PageHeadPassesTheTitleThroughTheRawFilter) {
    // Half-width kana in a title reach the page as full-width characters.
    PageHead(*c, "Mail <\xb6\xde>");
    EXPECT_GOLDEN("page_head.ref",
                  out.replace(out.find(style_sheet_path()), style_sheet_path().size(), "[sheet]"));
}

// The source a browser compares: SHA-256 of the script's UTF-8 text, base64.
std::string Source(const std::string& utf8) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    EVP_Digest(utf8.data(), utf8.size(), digest, &n, EVP_sha256(), nullptr);
    unsigned char b64[64];
    EVP_EncodeBlock(b64, digest, static_cast<int>(n));
    return "'sha256-" + std::string(reinterpret_cast<char*>(b64)) + "'";
}

void JapaneseAlert(Connection& c) {
    // "確認" in Shift_JIS between line ends of both kinds.
    c.captureForTest->append("<script>\r\nalert(\"\x8a\x6d\x94\x46\")\r</script>");
}

TEST(PagePolicy, NamesExactlyThePagesOwnScripts) {
    register_page_script(JapaneseAlert);
    register_page_handler("check(1)");
    const std::string& p = page_policy(false);
    // As the browser parsed it: line ends LF, text UTF-8.
    EXPECT_NE(p.find(Source("\nalert(\"\xe7\xa2\xba\xe8\xaa\x8d\")\n")), std::string::npos) << p;
    EXPECT_NE(p.find(Source("check(1)")), std::string::npos);
    // The close script of the logout page is one of the gateway's own.
    EXPECT_NE(p.find(Source(" window.close() ")), std::string::npos);
    EXPECT_NE(p.find("'unsafe-hashes'"), std::string::npos);
    // Inline code runs nowhere; inline style (mail keeps its looks) is allowed.
    EXPECT_EQ(p.find("'unsafe-inline'"), p.find("style-src 'self' 'unsafe-inline'") + 17);
    // The other rules of both policies; stored lists may show remote images.
    EXPECT_GOLDEN("policy.ref", MaskScripts(p) + "\n" + MaskScripts(page_policy(true)) + "\n");
}

using SendStatusTest = OutputTest;

// The answer with every date replaced by "<date>", after checking the dates'
// form.
std::string WithoutDates(const std::string& answer) {
    static const std::regex date("[A-Z][a-z]{2}, [1-9][0-9]? [A-Z][a-z]{2} [0-9]{4} "
                                 "[0-9]{2}:[0-9]{2}:[0-9]{2} GMT");
    EXPECT_TRUE(std::regex_search(answer, date)) << answer;
    return MaskScripts(std::regex_replace(answer, date, "<date>"));
}

TEST_F(SendStatusTest, WritesTheHeaderBlockOfEachCode) {
    for (const auto& k : SERVER_CASES("cases/status.ref")) {
        SCOPED_TRACE(k.at(0) + " browser " + k.at(1));
        out.clear();
        c->browser = static_cast<uint16_t>(std::stoi(k.at(1), nullptr, 0));
        SendStatus(*c, std::stoi(k.at(0)));
        EXPECT_GOLDEN("status/" + k.at(2), WithoutDates(out));
    }
}

TEST_F(SendStatusTest, SendsEachLineOnItsOwn) {
    SendRecorder recorder(*c);
    SendStatus(*c, 200);
    recorder.Finish();
    std::vector<size_t> lines;
    for (size_t start = 0, end; (end = recorder.bytes.find("\r\n", start)) != std::string::npos;
         start = end + 2) {
        lines.push_back(end + 2 - start);
    }
    EXPECT_EQ(recorder.sizes, lines);
}

} // namespace
