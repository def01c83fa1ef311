// `tarnbox settings colours`: the page colours and the background of every
// page the gateway serves.
#include "admin/settings_fields.h"
#include "admin/settings_page.h"
#include "base/console_text.h"
#include <cstdio>
#include <sys/stat.h>

namespace {

struct ColoursPage {
    std::string link, link_colour, visited, visited_colour, text, text_colour;
    std::string background, background_colour, background_image, custom;
};

const ListChoice kBackgrounds[] = {
    {"standard", "標準"}, {"colour", "ﾕｰｻﾞｰ定義"}, {"image", "画像ﾌｧｲﾙ"}, {nullptr, nullptr}};

// The colour chooser's sixteen custom colours, kept after the four used ones
// and the reserved words.
constexpr int kFirstCustom = 14;
constexpr int kCustomCount = 16;

using C = PageControl<ColoursPage>;
const std::vector<C> kControls = {
    {"link", "ﾘﾝｸ(&L) ﾕｰｻﾞｰ定義", ControlKind::box, &ColoursPage::link},
    {"link_colour", "ﾘﾝｸ(&L) 色の指定...", ControlKind::colour, &ColoursPage::link_colour},
    {"visited", "訪れたﾘﾝｸ(&F) ﾕｰｻﾞｰ定義", ControlKind::box, &ColoursPage::visited},
    {"visited_colour", "訪れたﾘﾝｸ(&F) 色の指定...", ControlKind::colour,
     &ColoursPage::visited_colour},
    {"text", "文字(&T) ﾕｰｻﾞｰ定義", ControlKind::box, &ColoursPage::text},
    {"text_colour", "文字(&T) 色の指定...", ControlKind::colour, &ColoursPage::text_colour},
    {"background", "背景(&B) 標準(&D) / ﾕｰｻﾞｰ定義(&C) / 画像ﾌｧｲﾙ(&I)", ControlKind::list,
     &ColoursPage::background, kBackgrounds},
    {"background_colour", "背景(&B) 色の指定...", ControlKind::colour,
     &ColoursPage::background_colour},
    {"background_image", "背景(&B) 画像ﾌｧｲﾙ 参照...", ControlKind::edit,
     &ColoursPage::background_image, nullptr, 255},
    {"custom_colours", "作成した色 (16 色、カンマ区切り)", ControlKind::edit, &ColoursPage::custom,
     nullptr, 16 * 7},
};

ColoursPage Fill(const BasicSettings& s) {
    ColoursPage p;
    p.link = box_text(s.colour_flags & 1);
    p.link_colour = colour_text(s.page_colours[0]);
    p.visited = box_text(s.colour_flags & 2);
    p.visited_colour = colour_text(s.page_colours[1]);
    p.text = box_text(s.colour_flags & 4);
    p.text_colour = colour_text(s.page_colours[2]);
    const int mode = s.background_mode >= 0 && s.background_mode <= 2 ? s.background_mode : 0;
    p.background = kBackgrounds[mode].word;
    p.background_colour = colour_text(s.page_colours[3]);
    p.background_image = sjis_to_utf8(s.background_image);
    for (int i = 0; i < kCustomCount; i++) {
        if (i) p.custom += ',';
        p.custom += colour_text(s.page_colours[kFirstCustom + i]);
    }
    return p;
}

// Choosing a colour ticks its line, as the colour chooser does; choosing an
// image file selects the image background.
void After(ColoursPage& p, const std::string& name) {
    if (name == "link_colour") p.link = "on";
    if (name == "visited_colour") p.visited = "on";
    if (name == "text_colour") p.text = "on";
    if (name == "background_colour") p.background = "colour";
    if (name == "background_image" && !p.background_image.empty()) p.background = "image";
}

// The home of the command being run: the gateway reads a relative image
// path from there.
thread_local std::string tHome;

bool IsFile(const std::string& utf8) {
    const std::string path = utf8[0] == '/' ? utf8 : tHome + "/" + utf8;
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string Apply(const ColoursPage& p, BasicSettings& s) {
    BasicSettings next = s;
    const std::string image = edit_sjis(p.background_image);
    snprintf(next.background_image, sizeof next.background_image, "%s", image.c_str());
    std::string message = check_settings_lengths(next);
    if (!message.empty()) return message;
    // The file chooser only offers files that exist.
    if (!p.background_image.empty() && p.background_image != sjis_to_utf8(s.background_image) &&
        !IsFile(p.background_image))
        return "background_image: ファイルが見つかりません (" + p.background_image + ")。";
    if (p.background == "image" && p.background_image.empty())
        return "background_image: 背景画像ファイルを指定してください。";

    uint32_t custom[kCustomCount];
    int count = 0;
    size_t start = 0;
    for (;;) {
        const size_t comma = p.custom.find(',', start);
        std::string word, typed = p.custom.substr(start, comma - start);
        if (count == kCustomCount ||
            !take_control_value("custom_colours", ControlKind::colour, nullptr, 0, typed, word)
                 .empty())
            return "custom_colours: 6 桁の 16 進数 (RRGGBB) を 16 "
                   "個、カンマで区切って指定してください。";
        custom[count++] = colour_value(word);
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    if (count != kCustomCount)
        return "custom_colours: 6 桁の 16 進数 (RRGGBB) を 16 "
               "個、カンマで区切って指定してください。";

    next.colour_flags =
        (ticked(p.link) ? 1 : 0) | (ticked(p.visited) ? 2 : 0) | (ticked(p.text) ? 4 : 0);
    for (int i = 0; kBackgrounds[i].word; i++)
        if (p.background == kBackgrounds[i].word) next.background_mode = i;
    next.page_colours[0] = colour_value(p.link_colour);
    next.page_colours[1] = colour_value(p.visited_colour);
    next.page_colours[2] = colour_value(p.text_colour);
    next.page_colours[3] = colour_value(p.background_colour);
    for (int i = 0; i < kCustomCount; i++) next.page_colours[kFirstCustom + i] = custom[i];
    s = next;
    return {};
}

} // namespace

int admin_settings_colours(AdminContext& ctx) {
    tHome = ctx.paths.home;
    return run_settings_page<ColoursPage>(ctx, kControls, Fill, Apply, After);
}
