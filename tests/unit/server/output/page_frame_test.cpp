#include "server/output/page_frame.h"

#include <cstring>

#include "output_test_util.h"
#include "server/output/style_sheet.h"

namespace {

using PageFrameTest = OutputTest;

TEST_F(PageFrameTest, BeginPageWritesPartsAndTheAdministratorsColours) {
    // No request behind the connection: the switch leads to the top page.
    const std::string sw = "<div class=\"lang-switch\"><a href=\"/?lang=eng\" hreflang=\"en\" "
                           "lang=\"en\">English</a></div>";
    const struct {
        int mode;
        const char* image;
        int colourFlags;
        int parts;
        std::string expected;
    } cases[] = {
        {0, "", 0, kPageHtml | kPageBody,
         "<html><head>" + page_head_lines() + "</head><body>" + sw},
        {0, "", 0, 31,
         "<html><head>" + page_head_lines() + "</head><body>" + sw + "<pre><center><hr>"},
        {1, "", 0, kPageBody | kPageCenter, "<body bgcolor=#0A0B0C>" + sw + "<center>"},
        {2, "C:\\Tarn\\img\\back.gif", 0, kPageBody, "<body background=\"/back/back.gif\">" + sw},
        {2, "/srv/img/c:wall.jpg", 0, kPageBody, "<body background=\"/back/wall.jpg\">" + sw},
        // Image mode without an image leaves the browser's own background.
        {2, "", 0, kPageBody, "<body>" + sw},
        {1, "", 7, kPageBody,
         "<body bgcolor=#0A0B0C text=#000000 link=#0000FF vlink=#ABCDEF>" + sw},
    };
    settings().page_colours[3] = 0x0a0b0c;
    settings().page_colours[1] = 0xabcdef;
    for (const auto& k : cases) {
        settings().background_mode = k.mode;
        strcpy(settings().background_image, k.image);
        settings().colour_flags = k.colourFlags;
        out.clear();
        BeginPage(*c, k.parts);
        EXPECT_EQ(out, k.expected);
    }
}

TEST_F(PageFrameTest, PageHeadPassesTheTitleThroughTheRawFilter) {
    // Half-width kana in a title reach the page as full-width characters.
    PageHead(*c, "Mail <\xb6\xde>");
    EXPECT_EQ(out, "<html><head><title>Mail <\x83\x4b></title><meta name=\"viewport\" "
                   "content=\"width=device-width, initial-scale=1\"><link rel=\"stylesheet\" "
                   "href=\"" +
                       style_sheet_path() + "\"></head>");
}

} // namespace
