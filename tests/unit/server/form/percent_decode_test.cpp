#include "server/form/percent_decode.h"
#include "server/server_cases.h"

#include <cstring>
#include <string>

namespace {

using Decoder = void (*)(char*, const char*, size_t);

std::string Decode(Decoder decode, const std::string& src, size_t capacity) {
    char dst[80];
    memset(dst, '#', sizeof dst);
    decode(dst, src.c_str(), capacity);
    EXPECT_EQ(dst[capacity], '#') << "wrote past the capacity";
    return dst;
}

TEST(PercentDecodeTest, EscapesBoundsAndUtf8) {
    for (const auto& k : SERVER_CASES("cases/percent_decode.ref")) {
        const size_t capacity = std::stoul(k.at(2));
        if (k.at(0) != "utf8")
            EXPECT_EQ(Decode(PercentDecode, k.at(1), capacity), k.at(3)) << k.at(1);
        if (k.at(0) != "plain")
            EXPECT_EQ(Decode(PercentDecodeUtf8, k.at(1), capacity), k.at(3)) << k.at(1);
    }
    for (Decoder decode : {PercentDecode, PercentDecodeUtf8}) {
        char untouched = '#';
        decode(&untouched, "abc", 0);
        EXPECT_EQ(untouched, '#');
    }
}

} // namespace
