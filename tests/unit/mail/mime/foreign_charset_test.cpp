#include "mail/charset/foreign_charset.h"

#include "mail/mail_golden.h"
#include "server/route/page_fixture.h"

namespace {

std::string Convert(const char* charset, const std::string& in, ForeignMode mode,
                    size_t cap = 256) {
    std::string out(cap + 1, 'Z');
    const int n = convert_foreign_to_sjis(charset, in.data(), in.size(), out.data(), cap, mode);
    if (n < 0) return "(none)";
    EXPECT_EQ(out[n], '\0');
    EXPECT_EQ(out[cap], 'Z'); // nothing past the capacity
    return out.substr(0, n);
}

TEST(ForeignCharset, WhichLabelsAreConverted) {
    for (const auto& t : mail_golden::ReadCases(GOLDEN_PATH("foreign_labels.cases")))
        EXPECT_EQ(is_foreign_charset(t.at(0).c_str()), t.at(1) == "1") << t[0];
    EXPECT_FALSE(is_foreign_charset(nullptr));
}

TEST(ForeignCharset, ConvertsOrMarksEveryCharacter) {
    for (const auto& t : mail_golden::ReadCases(GOLDEN_PATH("foreign_text.cases"))) {
        const ForeignMode mode = t.at(2) == "Geta" ? ForeignMode::Geta : ForeignMode::Ncr;
        EXPECT_EQ(Convert(t.at(0).c_str(), t.at(1), mode), t.at(3)) << t[1];
    }
}

TEST(ForeignCharset, NeverSplitsACharacterAtTheBound) {
    const std::string text = "\xE6\x97\xA5\xF0\x9F\x98\x80z"; // 日, emoji, z
    EXPECT_EQ(Convert("UTF-8", text, ForeignMode::Ncr, 2), "");
    EXPECT_EQ(Convert("UTF-8", text, ForeignMode::Ncr, 11), Sjis("日"));
    EXPECT_EQ(Convert("UTF-8", text, ForeignMode::Ncr, 12), Sjis("日") + "&#128512;");
    EXPECT_EQ(Convert("UTF-8", text, ForeignMode::Geta, 5), Sjis("日") + "\x81\xAC");
}

TEST(ForeignCharset, ReferencesTheFilterMayPass) {
    for (const auto& t : mail_golden::ReadCases(GOLDEN_PATH("filter_references.cases")))
        EXPECT_EQ(foreign_ncr_length(t.at(0).c_str()), std::stoi(t.at(1))) << t[0];
}

} // namespace
