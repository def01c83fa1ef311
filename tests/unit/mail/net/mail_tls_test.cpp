// Which server names are checked against a certificate's address entries,
// and in what form.
#include "mail/net/mail_tls.h"

#include "server/server_cases.h"

namespace {

std::string literal(const char* host) {
    char address[kAddressTextSize];
    return mail_tls_address_literal(host, address) ? address : "(name)";
}

TEST(MailTlsAddress, LiteralsLoseTheirBracketsNamesStayNames) {
    for (const auto& k : SERVER_CASES("address_literals.ref"))
        EXPECT_EQ(literal(k.at(0).c_str()), k.at(1)) << k[0];
}

} // namespace
