// Which server names are checked against a certificate's address entries,
// and in what form.
#include "mail/net/mail_tls.h"

#include <gtest/gtest.h>
#include <string>

namespace {

std::string literal(const char* host) {
    char address[kAddressTextSize];
    return mail_tls_address_literal(host, address) ? address : "(name)";
}

TEST(MailTlsAddress, LiteralsLoseTheirBracketsNamesStayNames) {
    EXPECT_EQ(literal("127.0.0.1"), "127.0.0.1");
    EXPECT_EQ(literal("::1"), "::1");
    EXPECT_EQ(literal("[::1]"), "::1");
    EXPECT_EQ(literal("[2001:db8::25]"), "2001:db8::25");
    EXPECT_EQ(literal("[ffff:ffff:ffff:ffff:ffff:ffff:255.255.255.255]"),
              "ffff:ffff:ffff:ffff:ffff:ffff:255.255.255.255");
    // The resolver takes no brackets around IPv4, nor half a pair.
    EXPECT_EQ(literal("[127.0.0.1]"), "(name)");
    EXPECT_EQ(literal("[::1"), "(name)");
    EXPECT_EQ(literal("::1]"), "(name)");
    EXPECT_EQ(literal("[]"), "(name)");
    EXPECT_EQ(literal("mail.example.jp"), "(name)");
    EXPECT_EQ(literal("127.0.0.1.example.jp"), "(name)");
    EXPECT_EQ(literal(""), "(name)");
    EXPECT_EQ(literal(("[" + std::string(60, ':') + "]").c_str()), "(name)");
}

} // namespace
