// The character-set code against the whole JIS X 0208 code space as glibc
// iconv converts it (jis_x0208.ref, cp932_row13.ref), and the small codecs
// and helpers on their case tables. Inputs live in exactly-sized heap
// buffers, so AddressSanitizer reports any access past the bytes a call may
// touch.
//
// Reference pair: EUC-JP -> SHIFT_JIS. Both are plain JIS X 0208 on each
// side, so every one of the 6879 characters iconv accepts must come out
// identical, with no exclusions (0x2140 FULLWIDTH REVERSE SOLIDUS included:
// glibc maps it to 0x815F both ways).
#include "base/charset/base64.h"
#include "base/charset/detect.h"
#include "base/charset/encoded_words.h"
#include "base/charset/header_encode.h"
#include "base/charset/header_text.h"
#include "base/charset/kana.h"
#include "base/charset/quoted_printable.h"
#include "base/charset/sjis.h"
#include "base/charset/utf8_text.h"
#include "mail/mail_golden.h"
#include <cstring>
#include <functional>
#include <iterator>
#include <memory>
#include <random>
#include <vector>

namespace {

// A heap copy of bytes with `extra` more bytes after them (zero-filled).
std::unique_ptr<char[]> heap_copy(std::string_view bytes, std::size_t extra = 0) {
    std::unique_ptr<char[]> p(new char[bytes.size() + extra]);
    std::memcpy(p.get(), bytes.data(), bytes.size());
    std::memset(p.get() + bytes.size(), 0, extra);
    return p;
}

struct Code {
    unsigned char j1, j2;
    std::string sjis; // what iconv produced
};

std::string euc_of(unsigned char j1, unsigned char j2) {
    return {static_cast<char>(j1 | 0x80), static_cast<char>(j2 | 0x80)};
}

std::string iso2022_of(unsigned char j1, unsigned char j2) {
    return std::string("\x1b$B") + static_cast<char>(j1) + static_cast<char>(j2) + "\x1b(B";
}

std::string sjis_bytes(std::uint16_t code) {
    return {static_cast<char>(code >> 8), static_cast<char>(code & 0xFF)};
}

// The codes of a table file: JIS code and Shift_JIS code, in hex.
std::vector<Code> reference_table(const std::filesystem::path& file) {
    std::vector<Code> table;
    for (const auto& k : server_cases::Read(file)) {
        const int jis = std::stoi(k.at(0), nullptr, 16);
        table.push_back({static_cast<unsigned char>(jis >> 8), static_cast<unsigned char>(jis),
                         sjis_bytes(static_cast<std::uint16_t>(std::stoi(k.at(1), nullptr, 16)))});
    }
    return table;
}

// Runs convert_to_sjis on an exactly-sized heap copy (len + 1 for the NUL).
std::string convert(const std::string& in, int mode) {
    auto buf = heap_copy(in, 1);
    const int n = convert_to_sjis(buf.get(), static_cast<int>(in.size()), mode);
    EXPECT_LE(n, static_cast<int>(in.size()));
    EXPECT_EQ(buf[n], '\0');
    return std::string(buf.get(), n);
}

int detect(const std::string& s) {
    auto buf = heap_copy(s); // no NUL: only the given length may be read
    return detect_japanese_code(buf.get(), static_cast<int>(s.size()));
}

// fn(destination, source, length) on an exactly-sized heap copy of in and
// a zero-filled heap destination of room bytes, which it must end inside.
template <typename F> std::string into(const std::string& in, int room, F fn) {
    auto src = heap_copy(in);
    auto dst = heap_copy("", static_cast<std::size_t>(room));
    const int n = fn(dst.get(), src.get(), static_cast<int>(in.size()));
    EXPECT_LE(n, room);
    if (n < room) {
        EXPECT_EQ(dst[n], '\0');
    }
    return std::string(dst.get(), n);
}

std::string base64_of(const std::string& in) {
    const int size = base64_encoded_size(static_cast<int>(in.size()));
    const std::string out = into(in, size, base64_encode);
    EXPECT_EQ(static_cast<int>(out.size()), size);
    return out;
}

// fn(destination, size, text) on a NUL-terminated heap copy of text and a
// heap destination of exactly size bytes; its result goes to *result.
std::string bounded(int (*fn)(char*, int, const char*), const std::string& text, int size,
                    int* result) {
    auto src = heap_copy(text, 1);
    auto dst = heap_copy("", static_cast<std::size_t>(size));
    const int n = fn(dst.get(), size, src.get());
    if (result) *result = n;
    if (n >= 0) {
        EXPECT_EQ(n, static_cast<int>(std::strlen(dst.get())));
    }
    return dst.get();
}

std::string copy(const std::string& src, int size) {
    int n = -1;
    const std::string copied = bounded(
        [](char* dst, int room, const char* text) { return copy_header_text(dst, text, room); },
        src, size, &n);
    EXPECT_GE(n, 0);
    EXPECT_LT(n, size);
    return copied;
}

std::string encode(const std::string& text, int size = 4096, int* result = nullptr) {
    return bounded(encode_header_words, text, size, result);
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

using mail_golden::Repeated;

const std::string kA = "\x82\xA0"; // あ

// What kana_to_sjis and kana_to_jis give for byte b, in hex.
std::string kana_codes(unsigned char b) {
    char codes[16];
    snprintf(codes, sizeof codes, "%04X %04X", kana_to_sjis(b), kana_to_jis(b));
    return codes;
}

std::string decode(const std::string& value, int size = kDecodedHeaderSize, int* result = nullptr) {
    return bounded(decode_encoded_words, value, size, result);
}

} // namespace

// Case files whose records end in what a function makes of the fields
// before that.
TEST(CharsetTables, EachRecordGivesItsLastField) {
    using R = const mail_golden::Record&;
    const std::pair<const char*, std::function<std::string(R)>> kTables[] = {
        {"detect_codes.ref", [](R t) { return std::to_string(detect(t.at(0))); }},
        {"convert_to_sjis.cases", [](R t) { return convert(t.at(0), std::stoi(t.at(1))); }},
        {"euc_to_sjis.cases", [](R t) { return into(t.at(0), t[0].size() + 1, euc_to_sjis); }},
        {"base64_encode.ref", [](R t) { return base64_of(t.at(0)); }},
        {"base64_decode.ref",
         [](R t) { return into(t.at(0), base64_decoded_max(t[0].size()), base64_decode); }},
        {"quoted_printable.ref",
         [](R t) { return into(t.at(0), t[0].size() + 3, qp_decode_line); }},
        {"sjis_copy.ref",
         [](R t) {
             return into("", std::stoi(t.at(1)), [&](char* dst, const char*, int) {
                 return sjis_copy(dst, t[0].c_str(), std::stoi(t[1]));
             });
         }},
        {"utf8_text.ref", [](R t) { return sjis_to_utf8(t.at(0).c_str(), t[0].size()); }},
        {"header_text.ref", [](R t) { return copy(t.at(0), std::stoi(t.at(1))); }},
        {"sjis_find.ref",
         [](R t) { return std::to_string(sjis_find(t.at(0).c_str(), t.at(1)[0])); }},
        {"header_words.cases", [](R t) { return encode(t.at(0)); }},
        {"has_more_text.ref", [](R t) { return std::to_string(has_more_text(t.at(0).c_str())); }},
        {"character_references.ref",
         [](R t) { return std::to_string(has_character_references(t.at(0).c_str())); }},
        {"encoded_words.ref", [](R t) { return decode(t.at(0)); }},
        {"kana_outside.ref",
         [](R t) { return kana_codes(static_cast<unsigned char>(t.at(0)[0])); }}};
    for (const auto& [file, f] : kTables)
        for (const auto& t : CASE_BLOCKS(file)) EXPECT_EQ(f(t), t.back()) << file << ": " << t[0];
}

// The overloads for arrays, no text at all, and lengths that stop short.
TEST(CharsetTables, ArraysNullAndGivenLengths) {
    EXPECT_EQ(detect_japanese_code(nullptr, 10), 0);
    char five[5];
    EXPECT_EQ(copy_header_text(five, "\xB1\xB2\xB3"), 4);
    EXPECT_EQ(copy_header_text(five, nullptr), 0);
    char forty[40];
    EXPECT_EQ(encode_header_words(forty, kA.c_str()), 30);
    EXPECT_EQ(encode_header_words(forty, nullptr), 0);
    char decoded[kDecodedHeaderSize];
    EXPECT_EQ(decode_encoded_words(decoded, "=?EUC-JP?B?pKI=?="), 8);
    EXPECT_EQ(decode_encoded_words(decoded, nullptr), 0);
    EXPECT_EQ(decode_encoded_words(nullptr, 0, "x"), -1);
    EXPECT_EQ(sjis_find(nullptr, 'a'), -1);
    EXPECT_EQ(has_more_text(nullptr), 0);
    EXPECT_TRUE(is_sjis_lead('\x81')); // plain char, negative here
    EXPECT_EQ(has_sjis(nullptr), 0);
    auto dst = heap_copy("", 4);
    EXPECT_EQ(sjis_copy(dst.get(), nullptr, 4), 0);
    EXPECT_STREQ(dst.get(), "");
    char small[4];
    EXPECT_EQ(sjis_copy(small, "\x82\xA0\x82\xA2"), 2);
    EXPECT_EQ(sjis_copy(small, heap_copy("xyz", 1).get()), 3);
    EXPECT_EQ(sjis_copy(small, "a", 0), 0);
}

// Every code alone, then the whole table as one run, shifted by 0-7 leading
// characters, so that every code is met both inside the block-wise fast path
// and in the per-pair tail, at every position within a block.
TEST(CharsetJisTable, EveryCodeAloneAndInOneRunAtEveryAlignmentAgreesWithIconv) {
    const std::vector<Code> table = reference_table(GOLDEN_PATH("jis_x0208.ref"));
    // Guards against a reference that silently converts nothing.
    ASSERT_EQ(table.size(), 6879u);
    for (const Code& c : table) {
        SCOPED_TRACE(testing::Message() << std::hex << (c.j1 << 8 | c.j2));
        ASSERT_EQ(c.sjis.size(), 2u);
        const std::uint16_t s = jis_to_sjis(c.j1, c.j2);
        EXPECT_EQ(sjis_bytes(s), c.sjis);
        EXPECT_EQ(sjis_to_jis(static_cast<unsigned char>(s >> 8), static_cast<unsigned char>(s)),
                  (c.j1 << 8) | c.j2);

        // Alone, a character with a lead of 0xE0 or more reads as Shift_JIS
        // to the detector; a hiragana after it settles it as EUC-JP.
        EXPECT_EQ(convert(euc_of(c.j1, c.j2) + "\xA4\xA2", kCodeDetect), c.sjis + "\x82\xA0");
        // Each character in its own escapes: the mode switches in and out.
        EXPECT_EQ(convert(iso2022_of(c.j1, c.j2), kCodeDetect), c.sjis);
        EXPECT_EQ(convert(iso2022_of(c.j1, c.j2), kCodeEuc), c.sjis);
    }
    for (int shift = 0; shift < 8; ++shift) {
        SCOPED_TRACE(shift);
        std::string iso = "\x1b$B" + Repeated("$\"", shift), euc = Repeated("\xA4\xA2", shift),
                    expected = Repeated(kA, shift);
        for (const Code& c : table) {
            iso += static_cast<char>(c.j1);
            iso += static_cast<char>(c.j2);
            euc += euc_of(c.j1, c.j2);
            expected += c.sjis;
        }
        iso += "\x1b(B";
        EXPECT_EQ(detect_japanese_code(iso.data(), static_cast<int>(iso.size())), kCodeDetect);
        EXPECT_EQ(detect_japanese_code(euc.data(), static_cast<int>(euc.size())), kCodeEuc);
        EXPECT_EQ(convert(iso, kCodeDetect), expected);
        EXPECT_EQ(convert(euc, kCodeDetect), expected);
        EXPECT_EQ(convert(euc, kCodeEuc), expected);
        // Odd ASCII in front moves the EUC pairs off the block boundaries.
        EXPECT_EQ(convert("x" + euc, kCodeEuc), "x" + expected);
        auto dst = heap_copy("", euc.size() + 1);
        const int n = euc_to_sjis(dst.get(), euc.data(), static_cast<int>(euc.size()));
        EXPECT_EQ(std::string(dst.get(), n), expected);
    }
    // CP932 as glibc has it also places the NEC symbols of row 13 by the
    // same arithmetic (cp932_row13.ref says which it leaves out).
    const std::vector<Code> row13 = reference_table(GOLDEN_PATH("cp932_row13.ref"));
    ASSERT_EQ(row13.size(), 74u); // the rest of row 13
    for (const Code& c : row13) {
        SCOPED_TRACE(testing::Message() << std::hex << (c.j1 << 8 | c.j2));
        EXPECT_EQ(sjis_bytes(jis_to_sjis(c.j1, c.j2)), c.sjis);
        EXPECT_EQ(convert(euc_of(c.j1, c.j2), kCodeEuc), c.sjis);
    }
}

// The display composes marks by adding 1 or 2 to the table code; the ranges
// that allow it must land on the right character and nothing else.
TEST(CharsetKana, EveryRowIsTheMatchingFullWidthCharacterAndTakesItsMarks) {
    const auto fullWidth = CASE_BLOCKS("kana_full_width.cases");
    ASSERT_EQ(fullWidth.size(), 63u);
    std::string voiced, semivoiced;
    for (int b = 0xA1; b <= 0xDF; ++b) {
        SCOPED_TRACE(b);
        const auto c = static_cast<unsigned char>(b);
        const std::uint16_t sjis = kana_to_sjis(c);
        EXPECT_EQ(sjis_bytes(sjis), fullWidth[b - 0xA1].at(1)) << fullWidth[b - 0xA1][0];
        const std::uint16_t jis = kana_to_jis(c);
        EXPECT_EQ(jis_to_sjis(static_cast<unsigned char>(jis >> 8),
                              static_cast<unsigned char>(jis & 0xFF)),
                  sjis);
        if (takes_voiced_mark(c)) voiced += sjis_bytes(sjis + 1);
        if (takes_semivoiced_mark(c)) semivoiced += sjis_bytes(sjis + 2);
    }
    const auto marks = CASE_BLOCKS("kana_marks.cases");
    EXPECT_EQ(voiced, marks.at(0).at(1));
    EXPECT_EQ(semivoiced, marks.at(1).at(1));
}

// Widening must respect the room at every size, including a mark that would
// be composed with a character that no longer fits.
TEST(CharsetCopyHeaderText, EverySizeStaysInBounds) {
    const std::string src = "x\xB6\xDE\x82\xA0\x0E\x36\x5E\x0F\xCA\xDF\xB3\xDE.";
    const std::string full = copy(src, 64);
    for (int size = 1; size <= 64; ++size) {
        const std::string part = copy(src, size);
        EXPECT_EQ(full.compare(0, part.size(), part), 0) << size;
    }
}

TEST(CharsetSjis, LeadBytesAndShiftJisText) {
    for (const auto& t : CASE_BLOCKS("sjis_marks.cases")) {
        EXPECT_EQ(is_sjis_lead(static_cast<unsigned char>(t.at(0)[0])), t.at(1) == "1") << t[0];
        if (t.size() > 2) {
            EXPECT_EQ(has_sjis(t[0].c_str()), std::stoi(t[2])) << t[0];
        }
    }
}

// Long Japanese becomes several words, each a complete ISO-2022-JP sequence
// back in ASCII, folded into lines within 76 bytes that go on with a blank.
// Folds come after a blank or a comma, never after a colon: not even the
// blank after "Subject:", however long the rest, nor before a final line
// end alone.
TEST(CharsetEncodeHeaderWords, FoldedWords) {
    std::string golden;
    for (const std::string prefix : {"", "Subject: ", "Subject: Re: [list 42] "}) {
        const std::string text = prefix + Repeated(kA, 100);
        golden += mail_golden::Section("prefix \"" + prefix + "\"", encode(text));
        EXPECT_EQ(read_back(encode(text)), text);
    }
    const std::string to =
        "To: " + Repeated("someone <someone@example.org>, ", 6) + "last@example.org";
    EXPECT_EQ(unfold(encode(to)), to);
    EXPECT_GOLDEN("folded_words.ref", golden + mail_golden::Section("To", encode(to)));
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
    const std::string text =
        "Subject: " + Repeated(kA, 40) + " and more, " + Repeated("\x88\x9F", 5);
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
    for (const auto& u : CASE_BLOCKS("decode_units.cases")) {
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
}

// EUC-JP words grow by their escapes; a long one must stop at the capacity.
TEST(CharsetDecodeEncodedWords, GrowingEucWordNeverOverruns) {
    const std::string q = "=?EUC-JP?Q?" + Repeated("=A4=A2a", 1500) + "?=";
    int result = 0;
    const std::string out = decode(q, kDecodedHeaderSize, &result);
    EXPECT_EQ(result, -1);
    EXPECT_EQ(out, "");
}
