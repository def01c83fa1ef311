#include "admin/settings_page.h"
#include "admin/admin_context.h"
#include "base/console_text.h"
#include "base/text/command_text.h"
#include <cstdio>
#include <strings.h>

namespace {

bool IsHex(char ch) {
    return (ch >= '0' && ch <= '9') || (ch >= 'A' && ch <= 'F') || (ch >= 'a' && ch <= 'f');
}

std::string TakeBox(const char* name, const std::string& typed, std::string& value_r) {
    static const char* const kOn[] = {"on", "yes", "1", "true"};
    static const char* const kOff[] = {"off", "no", "0", "false"};
    for (const char* word : kOn)
        if (!strcasecmp(typed.c_str(), word)) return value_r = "on", std::string();
    for (const char* word : kOff)
        if (!strcasecmp(typed.c_str(), word)) return value_r = "off", std::string();
    return std::string(name) + ": on か off を指定してください。";
}

std::string TakeList(const char* name, const ListChoice* choices, const std::string& typed,
                     std::string& value_r) {
    std::string words;
    for (const ListChoice* c = choices; c->word; c++) {
        if (!strcasecmp(typed.c_str(), c->word) || typed == c->text) {
            value_r = c->word;
            return {};
        }
        if (!words.empty()) words += ", ";
        words += c->word;
    }
    return std::string(name) + ": " + words + " のいずれかを指定してください。";
}

std::string TakeEdit(const char* name, size_t max_bytes, const std::string& typed,
                     std::string& value_r) {
    std::string sjis;
    if (!utf8_to_sjis(typed, sjis))
        return std::string(name) + ": Shift_JIS で表せない文字が含まれています。";
    if (!command_text_safe(sjis)) return std::string(name) + ": " + kNoLineBreaks;
    if (sjis.size() > max_bytes)
        return std::string(name) + ": 長すぎます (" + std::to_string(max_bytes) + " バイトまで)。";
    value_r = typed;
    return {};
}

std::string TakeColour(const char* name, const std::string& typed, std::string& value_r) {
    std::string word = typed;
    if (!word.empty() && word[0] == '#') word.erase(0, 1);
    bool ok = word.size() == 6;
    for (char ch : word) ok = ok && IsHex(ch);
    if (!ok) return std::string(name) + ": 6 桁の 16 進数 (RRGGBB) で指定してください。";
    for (char& ch : word)
        if (ch >= 'a' && ch <= 'f') ch = static_cast<char>(ch - 'a' + 'A');
    value_r = word;
    return {};
}

} // namespace

std::string take_control_value(const char* name, ControlKind kind, const ListChoice* choices,
                               size_t max_bytes, const std::string& typed, std::string& value_r) {
    switch (kind) {
    case ControlKind::box:
        return TakeBox(name, typed, value_r);
    case ControlKind::list:
        return TakeList(name, choices, typed, value_r);
    case ControlKind::edit:
        return TakeEdit(name, max_bytes, typed, value_r);
    case ControlKind::colour:
        return TakeColour(name, typed, value_r);
    }
    return {};
}

bool read_bit(const BasicSettings& s, const SettingBit& b) {
    const bool set = b.mask ? (s.*b.word & b.mask) != 0 : s.*b.word != 0;
    return set == b.set_means_on;
}

void write_bit(BasicSettings& s, const SettingBit& b, bool on) {
    const bool set = on == b.set_means_on;
    if (!b.mask)
        s.*b.word = set ? 1 : 0;
    else
        s.*b.word = set ? s.*b.word | b.mask : s.*b.word & ~b.mask;
}

bool split_assignment(const std::string& arg, std::string& name_r, std::string& value_r) {
    const size_t eq = arg.find('=');
    if (eq == std::string::npos) return false;
    name_r = arg.substr(0, eq);
    value_r = arg.substr(eq + 1);
    return true;
}

std::string box_text(bool ticked) {
    return ticked ? "on" : "off";
}

bool ticked(const std::string& box) {
    return box == "on";
}

std::string colour_text(uint32_t colour) {
    char word[8];
    snprintf(word, sizeof word, "%06X", colour & 0xFFFFFF);
    return word;
}

uint32_t colour_value(const std::string& text) {
    return static_cast<uint32_t>(std::stoul(text, nullptr, 16)) & 0xFFFFFF;
}

std::string edit_sjis(const std::string& utf8) {
    std::string sjis;
    utf8_to_sjis(utf8, sjis);
    return sjis;
}

std::string port_text(int port, const char* word, int standard) {
    return port == standard ? word : std::to_string(port);
}
