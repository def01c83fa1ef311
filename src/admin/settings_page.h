// The three pages of the basic settings on the command line. Each page is a
// working copy of its controls as the administrator sees them (boxes, lists,
// edits, all as text), filled from the settings, changed by name=value and
// applied as one: a value that fails a check leaves the whole page unsaved.
#pragma once
#include "admin/admin_context.h"
#include "admin/admin_output.h"
#include "base/global_lock.h"
#include "store/basic_settings.h"
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

enum class ControlKind { box, list, edit, colour };

// A list entry: the word scripts type, and the dialog's own text, which is
// taken too.
struct ListChoice {
    const char* word;
    const char* text;
};

template <class Page> struct PageControl {
    const char* name;  // name on the command line
    const char* label; // the dialog's label (UTF-8)
    ControlKind kind;
    std::string Page::*value;
    const ListChoice* choices = nullptr; // list: ends with a null word
    size_t max_bytes = 0;                // edit: longest value in Shift_JIS bytes
    // A fixed-value control: only in use while this box (a control name) is
    // not ticked.
    const char* unless_ticked = nullptr;
};

// Normalises a typed value for a control of this kind. Returns "" and sets
// value_r, or the message.
std::string take_control_value(const char* name, ControlKind kind, const ListChoice* choices,
                               size_t max_bytes, const std::string& typed, std::string& value_r);

// Where a box is kept: a bit of an option word, or (mask 0) a whole word
// used as a flag. Many bits say the opposite of their box ("fixed" beside
// "change permitted"); for those set_means_on is false.
struct SettingBit {
    int BasicSettings::*word;
    int mask;
    bool set_means_on;
};
bool read_bit(const BasicSettings& s, const SettingBit& b);
void write_bit(BasicSettings& s, const SettingBit& b, bool on);

// Splits "name=value". False when there is no "=".
bool split_assignment(const std::string& arg, std::string& name_r, std::string& value_r);

std::string box_text(bool ticked);
bool ticked(const std::string& box);
std::string colour_text(uint32_t colour);
uint32_t colour_value(const std::string& text); // text checked by take_control_value
// The text of an edit in Shift_JIS, as the settings keep it (checked when typed).
std::string edit_sjis(const std::string& utf8);

// The port fields: "http", "smtp" or "pop3" for the standard ports.
std::string port_text(int port, const char* word, int standard);

// Sets the named controls of the page from name=value arguments, in order.
// Returns "" or the message of the first refused one.
template <class Page>
std::string take_page_values(const std::vector<PageControl<Page>>& controls, Page& page,
                             const std::vector<std::string>& args,
                             void (*after)(Page&, const std::string& name) = nullptr) {
    for (const std::string& arg : args) {
        std::string name, typed;
        if (!split_assignment(arg, name, typed))
            return arg + ": name=value の形で指定してください。";
        const PageControl<Page>* found = nullptr;
        for (const auto& c : controls)
            if (name == c.name) found = &c;
        if (!found) return name + ": そのような設定項目はありません。";
        std::string value;
        std::string message = take_control_value(found->name, found->kind, found->choices,
                                                 found->max_bytes, typed, value);
        if (!message.empty()) return message;
        page.*(found->value) = value;
        if (after) after(page, name);
    }
    return {};
}

// One line per control: name=value, then the dialog's label.
template <class Page>
std::vector<std::string> page_lines(const std::vector<PageControl<Page>>& controls,
                                    const Page& page) {
    std::vector<std::string> lines;
    for (const auto& c : controls) {
        std::string line = std::string(c.name) + "=" + page.*(c.value);
        line.append(line.size() < 28 ? 28 - line.size() : 1, ' ');
        line += "# ";
        line += c.label;
        if (c.unless_ticked) {
            for (const auto& box : controls)
                if (!strcmp(box.name, c.unless_ticked) && ticked(page.*(box.value)))
                    line += " (変更許可中は使われません)";
        }
        lines.push_back(line);
    }
    return lines;
}

// The pages as subcommands: `settings server|colours|permissions [name=value ...]`.
int admin_settings_server(AdminContext& ctx);
int admin_settings_colours(AdminContext& ctx);
int admin_settings_permissions(AdminContext& ctx);
// `settings` alone: the three pages shown one after the other.
int admin_settings_sheet(AdminContext& ctx);

// Shows the page, or applies the changed page and saves the settings header
// under globalLock. apply turns the page into settings: "" or the message.
template <class Page>
int run_settings_page(AdminContext& ctx, const std::vector<PageControl<Page>>& controls,
                      Page (*fill)(const BasicSettings&),
                      std::string (*apply)(const Page&, BasicSettings&),
                      void (*after)(Page&, const std::string& name) = nullptr) {
    const bool change = !ctx.args.empty();
    if (int r = open_store(ctx, change)) return r;
    Page page = fill(ctx.ds.settings);
    if (!change) {
        for (const std::string& line : page_lines(controls, page)) admin_out(line);
        return 0;
    }
    std::string message = take_page_values(controls, page, ctx.args, after);
    BasicSettings changed = ctx.ds.settings;
    if (message.empty()) message = apply(page, changed);
    if (!message.empty()) return admin_fail(message);
    std::lock_guard<std::recursive_mutex> hold(globalLock);
    const BasicSettings before = ctx.ds.settings;
    ctx.ds.settings = changed;
    if (save_basic_settings(ctx.ds) != 1) {
        ctx.ds.settings = before;
        return 1;
    }
    return 0;
}
