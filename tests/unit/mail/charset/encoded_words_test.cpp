
#include <vector>

#include "charset_test_util.h"
#include "mail/charset/encoded_words.h"
#include "mail/mail_golden.h"

using charset_test::heap_copy;
using charset_test::heap_cstr;

namespace {

std::string decode(const std::string& value, int size = kDecodedHeaderSize, int* result = nullptr) {
    auto src = heap_cstr(value);
    auto dst = heap_copy("", static_cast<std::size_t>(size));
    const int n = decode_encoded_words(dst.get(), size, src.get());
    if (result) *result = n;
    if (n >= 0) {
        EXPECT_EQ(n, static_cast<int>(std::strlen(dst.get())));
    }
    return dst.get();
}

} // namespace

TEST(CharsetDecodeEncodedWords, Words) {
    for (const auto& t : mail_golden::ReadCases(GOLDEN_PATH("encoded_words.ref")))
        EXPECT_EQ(decode(t.at(0)), t.at(1)) << t[0];
    char fixed[kDecodedHeaderSize];
    EXPECT_EQ(decode_encoded_words(fixed, "=?EUC-JP?B?pKI=?="), 8);
    EXPECT_EQ(decode_encoded_words(fixed, nullptr), 0);
}

// The same word at every position of a surrounding text gives the same bytes
// there, and every cut of the value is the decoding of what is left (a cut
// inside a word drops that word).
TEST(CharsetDecodeEncodedWords, WordsAtEveryPosition) {
    const std::string around = "Re: [ml:123] \x82\xA0 ok";
    const std::string word = "=?EUC-JP?B?pKKkpA==?=";
    const std::string decoded = "\x1b$B$\"$$\x1b(B";
    for (std::size_t pos = 0; pos <= around.size(); ++pos) {
        const std::string value = around.substr(0, pos) + word + around.substr(pos);
        const std::string expected = around.substr(0, pos) + decoded + around.substr(pos);
        EXPECT_EQ(decode(value), expected) << pos;
        for (std::size_t cut = 0; cut <= value.size(); ++cut) {
            const std::string part = decode(value.substr(0, cut));
            const std::size_t word_end = pos + word.size();
            if (cut <= pos) {
                EXPECT_EQ(part, value.substr(0, cut));
            } else if (cut < word_end) {
                // "=" alone is still literal text; anything longer opens the word.
                const std::string before = around.substr(0, pos);
                EXPECT_EQ(part, cut == pos + 1 ? before + "=" : before);
            } else {
                EXPECT_EQ(part, expected.substr(0, part.size()));
            }
        }
    }
}

// A destination too small for the whole value keeps whole units only: a word
// is written completely or not at all, a two-byte character is not split.
TEST(CharsetDecodeEncodedWords, SmallDestinationKeepsWholeUnits) {
    std::string value, full;
    std::vector<std::size_t> boundaries = {0};
    for (const auto& u : mail_golden::ReadCases(GOLDEN_PATH("decode_units.cases"))) {
        value += u.at(0);
        full += u.at(1);
        boundaries.push_back(full.size());
    }
    ASSERT_EQ(decode(value), full);
    for (int size = 1; size <= static_cast<int>(full.size()) + 1; ++size) {
        int result = 0;
        const std::string out = decode(value, size, &result);
        std::size_t fits = 0;
        for (std::size_t b : boundaries) {
            if (b < static_cast<std::size_t>(size)) fits = b;
        }
        EXPECT_EQ(out, full.substr(0, fits)) << size;
        EXPECT_EQ(result,
                  size > static_cast<int>(full.size()) ? static_cast<int>(full.size()) : -1);
    }
    EXPECT_EQ(decode_encoded_words(nullptr, 0, "x"), -1);
}

// EUC-JP words grow by their escapes; a long one must stop at the capacity.
TEST(CharsetDecodeEncodedWords, GrowingEucWordNeverOverruns) {
    std::string q = "=?EUC-JP?Q?";
    for (int i = 0; i < 1500; ++i) q += "=A4=A2a";
    q += "?=";
    int result = 0;
    const std::string out = decode(q, kDecodedHeaderSize, &result);
    EXPECT_EQ(result, -1);
    EXPECT_EQ(out, "");
}
