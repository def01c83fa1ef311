#include "page/output/page_frame.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

#include "base/text/path_part.h"
#include "page/output/language_switch.h"
#include "page/output/output_text.h"
#include "page/output/style_sheet.h"
#include "store/data_file.h"

namespace {

// Words of BasicSettings::page_colours and bits of colour_flags.
enum : int { kColourLink = 0, kColourVisited = 1, kColourText = 2, kColourBackground = 3 };
enum : int { kUserLink = 1, kUserVisited = 2, kUserText = 4 };
enum : int { kBackgroundColour = 1, kBackgroundImage = 2 };

// Appends to a fixed buffer; output that does not fit is cut off.
struct FrameText {
    char* text;
    size_t capacity;
    size_t length = 0;

    void Append(const char* format, ...) __attribute__((format(printf, 2, 3))) {
        if (length + 1 >= capacity) return;
        va_list args;
        va_start(args, format);
        int n = vsnprintf(text + length, capacity - length, format, args);
        va_end(args);
        if (n > 0) length += std::min(static_cast<size_t>(n), capacity - length - 1);
    }
};

} // namespace

// The remote-control pages answer a program, not a reader: no switch.
static bool ForReaders(const Connection& c) {
    const PageState state = c.state.load();
    return state != PageState::RemotePage && state != PageState::RemoteSubmit;
}

static unsigned Colour(const BasicSettings& s, int word) {
    return s.page_colours[word] & 0xFFFFFF;
}

void PageHead(Connection& c, const char* title) {
    OutputFormat(c, 0, "<html><head><title>%s</title>%s</head>", title, page_head_lines().c_str());
}

void BeginPage(Connection& c, int parts) {
    const BasicSettings& s = data_store().settings;
    FrameText frame{c.receiveBuffer, sizeof c.receiveBuffer};
    // A page without a title of its own still gets the viewport and sheet.
    if (parts & kPageHtml) frame.Append("<html><head>%s</head>", page_head_lines().c_str());
    if (parts & kPageBody) {
        frame.Append("<body");
        if (s.background_mode == kBackgroundImage && s.background_image[0]) {
            frame.Append(" background=\"/back/%.*s\"", static_cast<int>(sizeof s.background_image),
                         FileNamePart(s.background_image));
        } else if (s.background_mode == kBackgroundColour) {
            frame.Append(" bgcolor=#%06X", Colour(s, kColourBackground));
        }
        if (s.colour_flags & kUserText) frame.Append(" text=#%06X", Colour(s, kColourText));
        if (s.colour_flags & kUserLink) frame.Append(" link=#%06X", Colour(s, kColourLink));
        if (s.colour_flags & kUserVisited) frame.Append(" vlink=#%06X", Colour(s, kColourVisited));
        frame.Append(">");
    }
    if ((parts & kPageBody) && ForReaders(c)) {
        SendRaw(c, frame.text, frame.length);
        frame.length = 0;
        LanguageSwitch(c);
    }
    if (parts & kPagePre) frame.Append("<pre>");
    if (parts & kPageCenter) frame.Append("<center>");
    if (parts & kPageHr) frame.Append("<hr>");
    SendRaw(c, frame.text, frame.length);
}

void EndPage(Connection& c, int parts) {
    char text[48];
    FrameText frame{text, sizeof text};
    if (parts & kPagePre) frame.Append("</pre>");
    if (parts & kPageCenter) frame.Append("</center>");
    if (parts & kPageBody) frame.Append("</body>");
    if (parts & kPageHtml) frame.Append("</html>");
    SendRaw(c, frame.text, frame.length);
}
