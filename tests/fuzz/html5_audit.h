// The cleaned part read as a browser reads the page around it: decoded from
// Shift_JIS the WHATWG way, parsed by an HTML5 parser (gumbo) in the place
// the message page gives it, and the resulting tree checked against what the
// cleaner means to let through. Any difference between the cleaner's reading
// and the parser's (a tag the cleaner wrote as text, an attribute it never
// wrote, an element that swallows the page after it) shows here.
#pragma once
#include <gumbo.h>

#include "../unit/mail/view/markup_audit.h"
#include <string>
#include <string_view>

namespace html5_audit {

// The page around a cleaned part, as the message view writes it: the part
// sits inside <pre> and the reply form follows it.
constexpr std::string_view kBefore = "<html><head><title>1. x</title></head><body><pre><hr>";
constexpr std::string_view kAfter = "<pre><hr><form name=\"mail\" id=\"gateway-reply\" "
                                    "action=\"/mail/write/index.html\"><pre><textarea "
                                    "name=\"message\"></textarea></pre></form></pre></body></html>";

// A character from U+0800 on, in UTF-8.
inline void AppendUtf8(std::string& out, unsigned code) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
}

// Stands for a C0 control: the parser would turn one into U+FFFD, where a
// browser keeps it (and a URL parser strips it at either end).
constexpr std::string_view kControl = "\xEE\x80\x80"; // U+E000

// Shift_JIS to UTF-8 as the WHATWG decoder splits it. Only the split matters
// here, so every two-byte character becomes U+4E00.
inline std::string BrowserText(std::string_view page) {
    std::string out;
    for (size_t i = 0; i < page.size(); i++) {
        const auto b = static_cast<unsigned char>(page[i]);
        if (b < 0x20 && b != '\t' && b != '\n' && b != '\f' && b != '\r') {
            out += kControl;
        } else if (b < 0x80) {
            out += static_cast<char>(b);
        } else if (b == 0x80) {
            out += "\xC2\x80"; // U+0080
        } else if (b >= 0xA1 && b <= 0xDF) {
            AppendUtf8(out, 0xFF61 + (b - 0xA1));
        } else if (markup_audit::SjisPair(page, i)) {
            AppendUtf8(out, 0x4E00);
            i++;
        } else {
            AppendUtf8(out, 0xFFFD);
        }
    }
    return out;
}

// gumbo loses track of a numeric character reference whose value
// overflows its integer (it writes "&x" and drops the digits); a browser
// reads any value past U+10FFFF as U+FFFD. Such digit runs are cut to that.
inline std::string TameReferences(std::string_view part) {
    std::string out;
    out.reserve(part.size());
    for (size_t i = 0; i < part.size();) {
        if (part.compare(i, 2, "&#") != 0) {
            out += part[i++];
            continue;
        }
        const auto r = markup_audit::ReadNumericReference(part, i);
        out.append(part.substr(i, r.digits - i));
        if (r.value > 0x10FFFF)
            out += r.digits > i + 2 ? "FFFD" : "65533"; // "&#x" or "&#"
        else
            out.append(part.substr(r.digits, r.end - r.digits));
        i = r.end;
    }
    return out;
}

using markup_audit::Among, markup_audit::LowerCopy, markup_audit::StartsWithAny;

// A URL attribute's value as the URL parser starts on it.
inline std::string UrlStart(std::string_view value) {
    std::string v;
    for (char ch : value)
        if (ch != '\t' && ch != '\n' && ch != '\r') v += ch;
    std::string_view w = v;
    for (bool cut = true; cut;) {
        cut = false;
        if (!w.empty() && static_cast<unsigned char>(w.front()) <= 0x20)
            w.remove_prefix(1), cut = true;
        if (!w.empty() && static_cast<unsigned char>(w.back()) <= 0x20)
            w.remove_suffix(1), cut = true;
        if (w.starts_with(kControl)) w.remove_prefix(kControl.size()), cut = true;
        if (w.ends_with(kControl)) w.remove_suffix(kControl.size()), cut = true;
    }
    return LowerCopy(w);
}

// Loads may come from the web or the user's attachment folder; links also
// lead to ftp, mail, news and anchors of the page.
inline bool LoadAllowed(std::string_view u) {
    return StartsWithAny(u, {"http:", "https:", "/mail/~taro/"});
}

inline bool LinkAllowed(std::string_view u) {
    return StartsWithAny(u, {"http:", "https:", "ftp:", "mailto:", "news:", "#"});
}

inline std::string CheckCss(std::string_view css, bool sheet) {
    const std::string flat = markup_audit::WithoutComments(LowerCopy(css));
    for (std::string_view bad : {"expression", "javascript:", "vbscript:", "data:", "behavior",
                                 "binding", "@import", "@font-face", "image-set", "\\"})
        if (flat.find(bad) != std::string::npos) return "style with " + std::string(bad);
    // Every quote opens a string, which ends at the same quote or a line
    // end: a "url(" inside one loads nothing, wherever the string began.
    const auto stringEnd = [&](size_t open) {
        const size_t close =
            flat.find_first_of(std::string{flat[open], '\n', '\r', '\f'}, open + 1);
        return close == std::string::npos ? flat.size() : close;
    };
    for (size_t i = 0; i < flat.size(); i++) {
        if (flat[i] == '"' || flat[i] == '\'') {
            i = stringEnd(i);
            continue;
        }
        if (flat.compare(i, 4, "url(") != 0) continue;
        // CSS blanks, form feed and CR among them.
        size_t p = std::min(flat.find_first_not_of(" \t\n\r\f", i + 4), flat.size());
        const bool quoted = p < flat.size() && (flat[p] == '"' || flat[p] == '\'');
        size_t end = quoted ? stringEnd(p) : flat.find_first_of(")\"' \t\n\r\f", p);
        if (end == std::string::npos) end = flat.size();
        if (quoted) p++;
        // The URL parser strips blanks and controls at either end of the
        // string's text.
        const std::string rest = UrlStart(flat.substr(p, end - p));
        i = end;
        if (!LoadAllowed(rest)) return "style loads " + rest;
        const bool web = !rest.starts_with("/mail/~taro/");
        if (web && rest.find('#') != std::string::npos) return "style loads a document " + rest;
        if (web && sheet && flat.find('[') != std::string::npos)
            return "style sheet testing attributes loads " + rest;
    }
    return "";
}

// The attributes the cleaner writes back.
inline bool AttributeAllowed(std::string_view tag, std::string_view name) {
    if (name.starts_with("aria-")) return true;
    if (name == "href") return tag == "a" || tag == "area";
    if (name == "src" || name == "usemap" || name == "referrerpolicy") return tag == "img";
    if (name == "rel") return tag == "a" || tag == "area";
    if (name == "charset" || name == "content" || name == "http-equiv") return tag == "meta";
    if (name == "media") return tag == "style";
    return Among(
        name,
        {"align",      "alt",     "bgcolor",  "border",  "cellpadding", "cellspacing", "class",
         "clear",      "color",   "cols",     "colspan", "compact",     "dir",         "face",
         "frame",      "headers", "height",   "hspace",  "id",          "lang",        "name",
         "noshade",    "nowrap",  "rows",     "rowspan", "rules",       "scope",       "size",
         "span",       "start",   "summary",  "title",   "valign",      "value",       "vspace",
         "width",      "abbr",    "axis",     "char",    "charoff",     "datetime",    "reversed",
         "label",      "text",    "link",     "vlink",   "alink",       "role",        "style",
         "background", "type",    "hreflang", "coords",  "shape",       "target"});
}

inline std::string TagName(const GumboElement& e) {
    if (e.tag != GUMBO_TAG_UNKNOWN) return gumbo_normalized_tagname(e.tag);
    GumboStringPiece piece = e.original_tag;
    gumbo_tag_from_original_text(&piece);
    return LowerCopy(std::string_view(piece.data, piece.length));
}

inline std::string CheckElement(const GumboNode& node) {
    const GumboElement& e = node.v.element;
    const std::string tag = TagName(e);
    if (e.tag_namespace != GUMBO_NAMESPACE_HTML) return "foreign element " + tag;
    if (Among(tag, {"script",   "iframe",   "frame",  "frameset", "object",   "embed",  "applet",
                    "param",    "base",     "link",   "form",     "input",    "button", "select",
                    "textarea", "isindex",  "keygen", "template", "noscript", "xmp",    "plaintext",
                    "noembed",  "noframes", "title",  "svg",      "math",     "portal", "video",
                    "audio",    "source",   "dialog", "details"}))
        return "element " + tag;
    bool httpEquiv = false;
    for (unsigned i = 0; i < e.attributes.length; i++) {
        const auto* a = static_cast<const GumboAttribute*>(e.attributes.data[i]);
        const std::string name = LowerCopy(a->name);
        const std::string_view value = a->value;
        if (!AttributeAllowed(tag, name)) return "attribute " + name + " on " + tag;
        const std::string u = UrlStart(value);
        if (name == "href" && !LinkAllowed(u)) return "link to " + u;
        if ((name == "src" || name == "background") && !LoadAllowed(u)) return "load of " + u;
        if (name == "usemap" && !u.starts_with("#")) return "usemap " + u;
        if (name == "style" && !CheckCss(value, false).empty()) return CheckCss(value, false);
        if (name == "http-equiv") {
            httpEquiv = true;
            if (u != "content-type" && u != "content-language") return "meta http-equiv " + u;
        }
    }
    if (tag == "meta" && !httpEquiv && !gumbo_get_attribute(&e.attributes, "charset"))
        return "meta without charset";
    if (tag == "style") {
        std::string css;
        for (unsigned i = 0; i < e.children.length; i++) {
            const auto* child = static_cast<const GumboNode*>(e.children.data[i]);
            // The parser tells text of blanks only apart.
            if (child->type == GUMBO_NODE_TEXT || child->type == GUMBO_NODE_WHITESPACE)
                css += child->v.text.text;
            else
                return "markup inside style";
        }
        return CheckCss(css, true);
    }
    return "";
}

// Walks the tree in document order up to the gateway's reply form, which
// must sit where the page put it: inside the page's <pre>, in the body.
inline std::string CheckTree(const GumboNode& node, bool& formSeen) {
    if (node.type != GUMBO_NODE_ELEMENT) return "";
    const GumboElement& e = node.v.element;
    const GumboAttribute* id = gumbo_get_attribute(&e.attributes, "id");
    if (e.tag == GUMBO_TAG_FORM && id && std::string_view(id->value) == "gateway-reply") {
        formSeen = true;
        // The page opens <pre> again after each part, so they may nest.
        const GumboNode* up = node.parent;
        int pres = 0;
        for (; up && up->v.element.tag == GUMBO_TAG_PRE; up = up->parent) pres++;
        if (pres == 0 || !up || up->v.element.tag != GUMBO_TAG_BODY)
            return "the reply form was moved into the mail";
        return "";
    }
    const bool page =
        e.tag == GUMBO_TAG_HTML || e.tag == GUMBO_TAG_HEAD || e.tag == GUMBO_TAG_BODY ||
        (e.tag == GUMBO_TAG_TITLE && node.parent && node.parent->v.element.tag == GUMBO_TAG_HEAD);
    if (!page && !CheckElement(node).empty()) return CheckElement(node);
    for (unsigned i = 0; i < e.children.length && !formSeen; i++) {
        const std::string problem =
            CheckTree(*static_cast<const GumboNode*>(e.children.data[i]), formSeen);
        if (!problem.empty()) return problem;
    }
    return "";
}

// "" when the part, parsed in its page, holds only what the cleaner lets
// through and leaves the page after it alone; else the first finding.
inline std::string Audit(std::string_view part) {
    std::string page(kBefore);
    page += BrowserText(TameReferences(part));
    page += kAfter;
    GumboOutput* out = gumbo_parse_with_options(&kGumboDefaultOptions, page.data(), page.size());
    bool formSeen = false;
    std::string problem = CheckTree(*out->root, formSeen);
    if (problem.empty() && !formSeen) problem = "the reply form is gone";
    gumbo_destroy_output(&kGumboDefaultOptions, out);
    return problem;
}

} // namespace html5_audit
