#include "server/request/request_reader.h"

#include <gtest/gtest.h>

namespace {

TEST(DetectBrowserTest, FlagsFromRealAgents) {
    struct Case {
        const char* agent;
        uint16_t flags;
    } cases[] = {
        {"Mozilla/4.0 (compatible; MSIE 5.01; Windows 98)", 0x61 | 0x02 | 0x04},
        {"Mozilla/3.0 (Macintosh; I; PPC)", 0x21 | 0x08},
        {"Mozilla/4.0 (compatible; MSIE 5.5; Mac_PowerPC)", 0x61 | 0x02 | 0x04 | 0x08},
        {"Mozilla/2.02 (Win95; I)", 0x01},
        {"Mozilla/1.22 (compatible; MSIE 2.0; Windows 95)", 0x02},
        // Current browsers: "KHTML", "Chrome" and "Gecko" hold no "Mac"; a
        // Mac is found in "Macintosh" and "Mac OS X".
        {"Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) "
         "Chrome/120.0.0.0 Safari/537.36",
         0xE1},
        {"Mozilla/5.0 (Macintosh; Intel Mac OS X 10_15_7) AppleWebKit/605.1.15 (KHTML, like Gecko) "
         "Version/17.2 Safari/605.1.15",
         0xE1 | 0x08},
        {"Mozilla/5.0 (iPhone; CPU iPhone OS 17_2 like Mac OS X) AppleWebKit/605.1.15",
         0xE1 | 0x08},
        {"Mozilla/5.0 (compatible; MSIE 10.0; Windows NT 6.1; Trident/6.0)", 0xE1 | 0x02},
        {"Mozilla/5.0 (machine)", 0xE1 | 0x08},       // any case
        {"Mozilla/4.0 (compatible; msie 5.0)", 0x61}, // MSIE is exact case
        // Version characters: anything from "5" up counts as 5 or later.
        {"Mozilla/x", 0xE1},
        {"Mozilla/", 0},
        {"Mozilla", 0},
        {"mozilla/5.0 (Macintosh; MSIE 5.0)", 0}, // not Mozilla: nothing at all
        {"Mozilla/4.0MSIE 5", 0x61 | 0x02 | 0x04},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DetectBrowser(c.agent), c.flags) << c.agent;
    }
}

} // namespace
