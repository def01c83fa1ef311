// An independent look at page bytes for anything a browser would execute:
// script-bearing elements, event handler attributes, script URLs (also behind
// character references) and active style sheets. Used by the unit tests and
// the fuzz target of the HTML cleaner. Deliberately blunt: it reads every
// "<" followed by a letter as a tag, and any doubt is a finding.
#pragma once
#include "page/output/style_sheet.h"
#include <algorithm>
#include <initializer_list>
#include <string>
#include <string_view>

namespace markup_audit {

inline char Lower(char ch) {
    return ch >= 'A' && ch <= 'Z' ? static_cast<char>(ch + 32) : ch;
}

inline std::string LowerCopy(std::string_view s) {
    std::string out;
    for (char ch : s) out += Lower(ch);
    return out;
}

inline bool Among(std::string_view name, std::initializer_list<std::string_view> list) {
    for (std::string_view s : list)
        if (s == name) return true;
    return false;
}

inline bool StartsWithAny(std::string_view s, std::initializer_list<std::string_view> list) {
    for (std::string_view start : list)
        if (s.starts_with(start)) return true;
    return false;
}

// Whether a browser reading Shift_JIS takes s[i] and the byte after it as one
// character, so that a trail byte such as 0x5C is no backslash. A decoder
// gives an unassigned code's trail byte back only when it is ASCII, so a
// non-ASCII trail is always taken; an ASCII one only after a lead of an
// assigned row: all but 0x85, 0x86, 0xEB, 0xEC and 0xEF (codes at the end of
// other rows are unassigned too, a detail left out).
inline bool SjisPair(std::string_view s, size_t i) {
    const auto lead = static_cast<unsigned char>(s[i]);
    const auto trail = i + 1 < s.size() ? static_cast<unsigned char>(s[i + 1]) : 0;
    const bool isLead = (lead >= 0x81 && lead <= 0x9F) || (lead >= 0xE0 && lead <= 0xFC);
    const bool assigned =
        lead != 0x85 && lead != 0x86 && lead != 0xEB && lead != 0xEC && lead != 0xEF;
    return isLead && (trail >= 0x80 ? trail <= 0xFC : assigned && trail >= 0x40 && trail != 0x7F);
}

// The numeric character reference at s[amp] ("&#..."): where its digits
// start and end, and its value, which stops growing past U+10FFFF.
struct NumericReference {
    size_t digits, end;
    unsigned long value;
};

inline NumericReference ReadNumericReference(std::string_view s, size_t amp) {
    size_t p = amp + 2;
    const bool hex = p < s.size() && (s[p] == 'x' || s[p] == 'X');
    if (hex) p++;
    NumericReference r{p, p, 0};
    for (; r.end < s.size(); r.end++) {
        const char ch = Lower(s[r.end]);
        const int d = ch >= '0' && ch <= '9'          ? ch - '0'
                      : hex && ch >= 'a' && ch <= 'f' ? ch - 'a' + 10
                                                      : -1;
        if (d < 0) break;
        if (r.value <= 0x10FFFF) r.value = r.value * (hex ? 16 : 10) + static_cast<unsigned>(d);
    }
    return r;
}

// Character references decoded (numeric ones and the names that spell URL
// punctuation), then everything a URL parser skips removed.
inline std::string Normalised(std::string_view value) {
    std::string decoded;
    for (size_t i = 0; i < value.size(); i++) {
        if (value[i] == '&') {
            size_t j = i + 1;
            long code = -1;
            if (j < value.size() && value[j] == '#') {
                const NumericReference r = ReadNumericReference(value, i);
                j = r.end;
                if (r.end > r.digits) code = static_cast<long>(r.value);
            } else {
                static const struct {
                    const char* name;
                    char ch;
                } kNamed[] = {{"colon", ':'}, {"tab", '\t'}, {"newline", '\n'}, {"lpar", '('},
                              {"rpar", ')'},  {"sol", '/'},  {"quot", '"'},     {"amp", '&'},
                              {"lt", '<'},    {"gt", '>'},   {"apos", '\''},    {"nbsp", ' '}};
                for (const auto& n : kNamed) {
                    const std::string_view name = n.name;
                    if (LowerCopy(value.substr(j, name.size())) != name) continue;
                    code = n.ch;
                    j += name.size();
                    break;
                }
            }
            if (code >= 0) {
                if (j < value.size() && value[j] == ';') j++;
                decoded += code < 128 ? static_cast<char>(code) : '?';
                i = j - 1;
                continue;
            }
        }
        decoded += value[i];
    }
    std::string out;
    for (char ch : decoded)
        if (static_cast<unsigned char>(ch) > 0x20) out += Lower(ch);
    return out;
}

inline bool Contains(const std::string& hay, std::string_view needle) {
    return hay.find(needle) != std::string::npos;
}

// Style text without its comments; an unclosed one runs to the end.
inline std::string WithoutComments(std::string_view css) {
    std::string flat;
    for (size_t i = 0; i < css.size(); i++) {
        if (css.substr(i, 2) == "/*") {
            const size_t end = css.find("*/", i + 2);
            if (end == std::string::npos) break;
            i = end + 1;
            continue;
        }
        flat += css[i];
    }
    return flat;
}

inline std::string CheckStyle(const std::string& css) {
    const std::string flat = WithoutComments(css);
    for (std::string_view bad :
         {"expression", "javascript", "vbscript", "behavior", "binding", "\\", "data:", "@import"})
        if (Contains(flat, bad)) return "active style: " + css;
    return "";
}

// The page as a browser reading Shift_JIS sees its ASCII, lower case; the
// pairs it takes as one character become two 0x80 bytes.
inline std::string BrowserAscii(std::string_view page) {
    std::string out;
    for (size_t i = 0; i < page.size(); i++) {
        const bool pair = SjisPair(page, i);
        out += pair ? "\x80\x80" : std::string(1, Lower(page[i]));
        i += pair;
    }
    return out;
}

// "" when nothing executable was found, else what was found.
inline std::string Audit(std::string_view page) {
    // The page's own head (viewport, the gateway's stylesheet) is not mail.
    std::string own(page);
    const std::string& head = page_head_lines();
    for (size_t at; (at = own.find(head)) != std::string::npos;) own.erase(at, head.size());
    // Nor is the reply form that follows it; its quoted text still counts.
    // The gateway writes it after the mail, so only the last one can be its.
    // Browsers without uploads get it without the enctype.
    if (size_t at = own.rfind("<form name=\"mail\" method=\"post\" "); at != std::string::npos) {
        const size_t end = own.find('>', at);
        const std::string_view tag = std::string_view(own).substr(at, end - at);
        if (tag.find(" action=\"/mail/write/") != std::string_view::npos) own.erase(at, end - at);
    }
    const std::string low = BrowserAscii(own);
    // The first byte from p on that is (upTo) or is not (past) in set, or the end.
    const auto upTo = [&](size_t p, const char* set) {
        return std::min(low.find_first_of(set, p), low.size());
    };
    const auto past = [&](size_t p, const char* set) {
        return std::min(low.find_first_not_of(set, p), low.size());
    };
    size_t i = 0;
    while ((i = low.find('<', i)) != std::string::npos) {
        const size_t start = i++;
        if (i >= low.size()) break;
        const char first = low[i];
        // End tags carry no attributes that browsers act on. Inside a start
        // tag: attribute names and values, values quoted or not.
        if (first < 'a' || first > 'z') continue;
        size_t p = upTo(i, "> \t\n\r/");
        const std::string name = low.substr(i, p - i);
        if (Among(name, {"script", "iframe", "frame", "frameset", "object", "embed", "applet",
                         "svg", "math", "base", "link", "form", "xml", "param", "portal",
                         "template", "isindex", "import"}))
            return "element " + name;
        for (;;) {
            p = past(p, " \t\n\r\f/");
            if (p >= low.size() || low[p] == '>') break;
            const size_t a = p;
            p = upTo(p, "=> \t\n\r/");
            std::string attribute = low.substr(a, p - a);
            if (attribute.empty()) attribute += low[p++];
            std::string value;
            if (const size_t q = past(p, " \t\n"); q < low.size() && low[q] == '=') {
                p = past(q + 1, " \t\n");
                if (p < low.size() && (low[p] == '"' || low[p] == '\'')) {
                    const char quote = low[p];
                    const size_t close = low.find(quote, p + 1);
                    if (close == std::string::npos) return "unterminated value in " + name;
                    value = low.substr(p + 1, close - p - 1);
                    p = close + 1;
                } else {
                    const size_t v = p;
                    p = upTo(p, "> \t\n");
                    value = low.substr(v, p - v);
                }
            }
            if (attribute.rfind("on", 0) == 0) return "event handler " + attribute + " in " + name;
            const std::string url = Normalised(value);
            // A text box's value is shown, never followed.
            const bool text = name == "input" && attribute == "value";
            if (!text && StartsWithAny(url, {"javascript:", "vbscript:", "livescript:", "data:"}))
                return "script URL in " + name + " " + attribute;
            if (attribute == "style" && !CheckStyle(url).empty()) return CheckStyle(url);
            if (attribute == "http-equiv" && Contains(url, "refresh")) return "refresh";
        }
        // An unclosed sheet runs to the end (npos - p still reaches it).
        const std::string sheet = name == "style" ? low.substr(p, low.find("</style", p) - p) : "";
        if (!CheckStyle(sheet).empty()) return CheckStyle(sheet);
        i = p > start ? p : start + 1;
    }
    return "";
}

} // namespace markup_audit
