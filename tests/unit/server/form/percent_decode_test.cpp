#include "server/form/percent_decode.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

using Decoder = void (*)(char*, const char*, size_t);

std::string Decode(Decoder decode, const char* src, size_t capacity = 64) {
    char dst[80];
    memset(dst, '#', sizeof dst);
    decode(dst, src, capacity);
    EXPECT_EQ(dst[capacity], '#') << "wrote past the capacity";
    return dst;
}

// Cases both decoders share: they differ only on three-byte UTF-8.
TEST(PercentDecodeTest, EscapesAndInvalidEscapes) {
    struct Case {
        const char* src;
        const char* decoded;
    } cases[] = {
        {"a%3Db", "a=b"},
        {"%41%6a%6A", "Ajj"},
        {"100%", "100%"},
        {"%4", "%4"},
        {"%4g%zz%", "%4g%zz%"},
        {"%%41", "%A"},
        {"a+b", "a+b"}, // "+" is a blank only in form bodies
        {"%82%A0%82%a2", "\x82\xA0\x82\xA2"},
        {"\x83\x5C%41", "\x83\x5C"
                        "A"},
        {"", ""},
    };
    for (Decoder decode : {PercentDecode, PercentDecodeUtf8}) {
        for (const auto& c : cases) EXPECT_EQ(Decode(decode, c.src), c.decoded) << c.src;
    }
}

TEST(PercentDecodeTest, BoundedWithoutSplittingACharacter) {
    for (Decoder decode : {PercentDecode, PercentDecodeUtf8}) {
        EXPECT_EQ(Decode(decode, "abcdef", 4), "abc");
        EXPECT_EQ(Decode(decode, "%41%42%43%44", 3), "AB");
        EXPECT_EQ(Decode(decode, "ab%82%A0", 4), "ab"); // the pair would need 5 bytes
        EXPECT_EQ(Decode(decode, "ab%82%A0", 5), "ab\x82\xA0");
        EXPECT_EQ(Decode(decode, "a\x82%A0", 3), "a"); // a pair of one raw and one escaped byte
        EXPECT_EQ(Decode(decode, "abc", 1), "");
        char untouched = '#';
        decode(&untouched, "abc", 0);
        EXPECT_EQ(untouched, '#');
    }
}

TEST(PercentDecodeUtf8Test, ThreeByteCharactersBecomeShiftJis) {
    struct Case {
        const char* src;
        const char* decoded;
    } cases[] = {
        // A Japanese file name as a browser escapes it in a UTF-8 URL.
        {"%E6%97%A5%E6%9C%AC%E8%AA%9E.txt", "\x93\xFA\x96\x7B\x8C\xEA.txt"},
        // Groups start at any escape, not only at the first of a run.
        {"%20%E3%81%82%41", " \x82\xA0"
                            "A"},
        {"%EF%BD%B1", "\xB1"}, // half-width katakana is one byte
        {"%E3%81%82%E3", "\x82\xA0\xE3"},
        // Anything else is copied as the decoded bytes.
        {"%C3%A9", "\xC3\xA9"},
        {"%E3%81x", "\xE3\x81x"},
        {"%E3%41%42", "\xE3\x41\x42"},
        {"%F0%9F%98%80", "\xF0\x9F\x98\x80"},
    };
    for (const auto& c : cases) EXPECT_EQ(Decode(PercentDecodeUtf8, c.src), c.decoded) << c.src;
    // Without the conversion the same escapes are plain bytes.
    EXPECT_EQ(Decode(PercentDecode, "%E3%81%82"), "\xE3\x81\x82");
    // A converted character is written whole or not at all.
    EXPECT_EQ(Decode(PercentDecodeUtf8, "a%E3%81%82", 3), "a");
}

} // namespace
