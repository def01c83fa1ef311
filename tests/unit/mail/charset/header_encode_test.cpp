
#include <random>
#include <vector>

#include "charset_test_util.h"
#include "mail/charset/detect.h"
#include "mail/charset/encoded_words.h"
#include "mail/charset/header_encode.h"
#include "mail/mail_golden.h"

using charset_test::heap_copy;
using charset_test::heap_cstr;

namespace {

std::string encode(const std::string& text, int size = 4096, int* result = nullptr) {
    auto src = heap_cstr(text);
    auto dst = heap_copy("", static_cast<std::size_t>(size));
    const int n = encode_header_words(dst.get(), size, src.get());
    if (result) *result = n;
    if (n >= 0) {
        EXPECT_EQ(n, static_cast<int>(std::strlen(dst.get())));
    }
    return dst.get();
}

std::string unfold(std::string s) {
    for (std::size_t p; (p = s.find("\r\n ")) != std::string::npos;) s.erase(p, 3);
    return s;
}

// Back to Shift_JIS the way received headers go: words, then escapes.
std::string read_back(const std::string& encoded) {
    char decoded[8192];
    const int n = decode_encoded_words(decoded, unfold(encoded).c_str());
    EXPECT_GE(n, 0);
    const int len = convert_to_sjis(decoded, n, 0);
    return std::string(decoded, len);
}

std::string repeat(const std::string& s, int n) {
    std::string r;
    for (int i = 0; i < n; ++i) r += s;
    return r;
}

const std::string kA = "\x82\xA0"; // あ

} // namespace

TEST(CharsetHasMoreText, OnlyEmptyOrAFinalLineEndIsNothing) {
    EXPECT_EQ(has_more_text(nullptr), 0);
    for (const char* nothing : {"", "\r\n"}) EXPECT_EQ(has_more_text(nothing), 0);
    for (const char* more : {"\r\n ", "\r", "\n", "x"}) EXPECT_EQ(has_more_text(more), 1) << more;
}

TEST(CharsetEncodeHeaderWords, ShortValues) {
    for (const auto& t : mail_golden::ReadCases(GOLDEN_PATH("header_words.cases")))
        EXPECT_EQ(encode(t.at(0)), t.at(1)) << t[0];
    char fixed[40];
    EXPECT_EQ(encode_header_words(fixed, kA.c_str()), 30);
    EXPECT_EQ(encode_header_words(fixed, nullptr), 0);
}

TEST(CharsetEncodeHeaderWords, LongJapaneseBecomesSeveralFoldedWords) {
    for (const std::string prefix : {"", "Subject: ", "Subject: Re: [list 42] "}) {
        const std::string text = prefix + repeat(kA, 100);
        const std::string out = encode(text);
        const auto lines = charset_test::crlf_lines(out);
        EXPECT_GT(lines.size(), 5u) << prefix;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            EXPECT_LE(lines[i].size(), 76u) << lines[i];
            if (i > 0) {
                EXPECT_EQ(lines[i][0], ' ');
            }
            // Each word is a complete ISO-2022-JP sequence back in ASCII.
            if (lines[i].find("=?") != std::string::npos) {
                EXPECT_EQ(read_back(lines[i]).substr(read_back(lines[i]).size() - 2), kA);
            }
        }
        EXPECT_EQ(read_back(out), text);
    }
}

TEST(CharsetEncodeHeaderWords, FoldsAfterBlankOrCommaButNeverAfterColon) {
    const std::string to =
        "To: " + repeat("someone <someone@example.org>, ", 6) + "last@example.org";
    const std::string out = encode(to);
    EXPECT_EQ(unfold(out), to);
    EXPECT_NE(out.find(",\r\n "), std::string::npos);
    EXPECT_EQ(out.find(":\r\n"), std::string::npos);
    EXPECT_EQ(out.find(": \r\n"), std::string::npos);

    // The blank after "Subject:" is never a fold point, however long the rest.
    const std::string subject = "Subject: " + std::string(120, 'x');
    EXPECT_EQ(encode(subject), subject);
    // Nothing but a final line end left: no fold.
    const std::string tail = std::string(90, 'y') + " \r\n";
    EXPECT_EQ(encode(tail), tail);
}

// Random mixes of ASCII words and Japanese: what the receiving side makes of
// the encoded value is the original text.
TEST(CharsetEncodeHeaderWords, RoundTripsThroughTheDecoder) {
    std::mt19937 rng(2047);
    const char* const pieces[] = {"a",        "Re:",     " ",        ", ",       "list",
                                  ": ",       "x@y.jp",  "\x82\xA0", "\x88\x9F", "\x83\x41\x83\x93",
                                  "\x81\x40", "\xEA\xA4"};
    for (int round = 0; round < 300; ++round) {
        std::string text;
        const int n = static_cast<int>(rng() % 80);
        for (int i = 0; i < n; ++i) text += pieces[rng() % std::size(pieces)];
        const std::string out = encode(text);
        ASSERT_EQ(read_back(out), text) << text;
        EXPECT_EQ(out.find(": \r\n"), std::string::npos);
    }
}

// A destination too small keeps whole words and never splits a fold.
TEST(CharsetEncodeHeaderWords, SmallDestinationKeepsWholeWords) {
    const std::string text = "Subject: " + repeat(kA, 40) + " and more, " + repeat("\x88\x9F", 5);
    const std::string full = encode(text);
    for (int size = 1; size <= static_cast<int>(full.size()) + 1; ++size) {
        int result = 0;
        const std::string out = encode(text, size, &result);
        EXPECT_EQ(result,
                  size > static_cast<int>(full.size()) ? static_cast<int>(full.size()) : -1);
        ASSERT_EQ(full.compare(0, out.size(), out), 0) << size;
        std::size_t opens = 0, closes = 0;
        for (std::size_t p = 0; (p = out.find("=?ISO-2022-JP?B?", p)) != std::string::npos; ++p)
            ++opens;
        for (std::size_t p = 0; (p = out.find("?=", p)) != std::string::npos; ++p) ++closes;
        EXPECT_EQ(opens, closes) << size;
        EXPECT_FALSE(out.size() >= 2 && out.compare(out.size() - 2, 2, "\r\n") == 0) << size;
    }
}
