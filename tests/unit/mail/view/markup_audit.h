// An independent look at page bytes for anything a browser would execute:
// script-bearing elements, event handler attributes, script URLs (also behind
// character references) and active style sheets. Used by the unit tests and
// the fuzz target of the HTML cleaner. Deliberately blunt: it reads every
// "<" followed by a letter as a tag, and any doubt is a finding.
#pragma once
#include "page/output/style_sheet.h"
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
                    const std::string name = n.name;
                    if (LowerCopy(value.substr(j, name.size())) == name) {
                        code = n.ch;
                        j += name.size();
                        break;
                    }
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

// The page as a browser reading Shift_JIS sees its ASCII: a lead byte takes
// a trail byte after it into one character, so a trail byte such as 0x5C is
// no backslash. A decoder gives an unassigned code's trail byte back only
// when it is ASCII, so a non-ASCII trail is always taken; an ASCII one only
// after a lead of an assigned row. Such pairs become two 0x80 bytes.
inline std::string BrowserAscii(std::string_view page) {
    std::string out;
    for (size_t i = 0; i < page.size(); i++) {
        const auto lead = static_cast<unsigned char>(page[i]);
        const auto trail = i + 1 < page.size() ? static_cast<unsigned char>(page[i + 1]) : 0;
        const bool isLead = (lead >= 0x81 && lead <= 0x9F) || (lead >= 0xE0 && lead <= 0xFC);
        const bool assigned = (lead >= 0x81 && lead <= 0x84) || (lead >= 0x87 && lead <= 0x9F) ||
                              (lead >= 0xE0 && lead <= 0xEA) || (lead >= 0xED && lead <= 0xEE) ||
                              (lead >= 0xF0 && lead <= 0xFC);
        const bool taken =
            trail >= 0x80 ? trail <= 0xFC : assigned && trail >= 0x40 && trail != 0x7F;
        if (isLead && taken) {
            out += "\x80\x80";
            i++;
            continue;
        }
        out += Lower(page[i]);
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
    size_t i = 0;
    while ((i = low.find('<', i)) != std::string::npos) {
        const size_t start = i++;
        if (i >= low.size()) break;
        const char first = low[i];
        // End tags carry no attributes that browsers act on. Inside a start
        // tag: attribute names and values, values quoted or not.
        if (first < 'a' || first > 'z') continue;
        std::string name;
        size_t p = i;
        while (p < low.size() && low[p] != '>' && low[p] != ' ' && low[p] != '\t' &&
               low[p] != '\n' && low[p] != '\r' && low[p] != '/')
            name += low[p++];
        for (std::string_view bad :
             {"script", "iframe", "frame", "frameset", "object", "embed", "applet", "svg", "math",
              "base", "link", "form", "xml", "param", "portal", "template", "isindex", "import"})
            if (name == bad) return "element " + name;
        for (;;) {
            while (p < low.size() && (low[p] == ' ' || low[p] == '\t' || low[p] == '\n' ||
                                      low[p] == '\r' || low[p] == '\f' || low[p] == '/'))
                p++;
            if (p >= low.size() || low[p] == '>') break;
            std::string attribute;
            while (p < low.size() && low[p] != '=' && low[p] != '>' && low[p] != ' ' &&
                   low[p] != '\t' && low[p] != '\n' && low[p] != '\r' && low[p] != '/')
                attribute += low[p++];
            if (attribute.empty()) attribute += low[p++];
            std::string value;
            size_t q = p;
            while (q < low.size() && (low[q] == ' ' || low[q] == '\t' || low[q] == '\n')) q++;
            if (q < low.size() && low[q] == '=') {
                p = q + 1;
                while (p < low.size() && (low[p] == ' ' || low[p] == '\t' || low[p] == '\n')) p++;
                if (p < low.size() && (low[p] == '"' || low[p] == '\'')) {
                    const char quote = low[p];
                    const size_t close = low.find(quote, p + 1);
                    if (close == std::string::npos) return "unterminated value in " + name;
                    value = low.substr(p + 1, close - p - 1);
                    p = close + 1;
                } else {
                    const size_t v = p;
                    while (p < low.size() && low[p] != '>' && low[p] != ' ' && low[p] != '\t' &&
                           low[p] != '\n')
                        p++;
                    value = low.substr(v, p - v);
                }
            }
            if (attribute.rfind("on", 0) == 0) return "event handler " + attribute + " in " + name;
            const std::string url = Normalised(value);
            // A text box's value is shown, never followed.
            const bool text = name == "input" && attribute == "value";
            for (std::string_view scheme : {"javascript:", "vbscript:", "livescript:", "data:"})
                if (!text && url.rfind(scheme, 0) == 0)
                    return "script URL in " + name + " " + attribute;
            if (attribute == "style") {
                const std::string problem = CheckStyle(url);
                if (!problem.empty()) return problem;
            }
            if (attribute == "http-equiv" && Contains(url, "refresh")) return "refresh";
        }
        if (name == "style") {
            const size_t end = low.find("</style", p);
            const std::string problem =
                CheckStyle(low.substr(p, end == std::string::npos ? std::string::npos : end - p));
            if (!problem.empty()) return problem;
        }
        i = p > start ? p : start + 1;
    }
    return "";
}

} // namespace markup_audit
