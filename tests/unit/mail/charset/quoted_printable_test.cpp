#include "mail/mail_golden.h"
#include <gtest/gtest.h>

#include <string>

#include "charset_test_util.h"
#include "mail/charset/quoted_printable.h"

using charset_test::heap_copy;

namespace {

std::string decode(const std::string& line) {
    auto src = heap_copy(line);
    auto dst = heap_copy("", line.size() + 3);
    const int n = qp_decode_line(dst.get(), src.get(), static_cast<int>(line.size()));
    EXPECT_EQ(dst[n], '\0');
    return std::string(dst.get(), n);
}

} // namespace

TEST(CharsetQuotedPrintable, DecodeLine) {
    for (const auto& t : mail_golden::ReadCases(GOLDEN_PATH("quoted_printable.ref")))
        EXPECT_EQ(decode(t.at(0)), t.at(1)) << t[0];
}
