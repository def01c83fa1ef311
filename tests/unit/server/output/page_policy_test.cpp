#include "server/output/page_policy.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

namespace {

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
    for (const char* rule : {"default-src 'none'", "img-src 'self' data:;", "form-action 'self'",
                             "frame-ancestors 'none'", "base-uri 'none'", "object-src 'none'"})
        EXPECT_NE(p.find(rule), std::string::npos) << rule;
    EXPECT_NE(page_policy(true).find("img-src 'self' data: https: http:;"), std::string::npos);
}

} // namespace
