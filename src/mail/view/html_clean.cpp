#include "mail/view/html_clean.h"

#include "base/charset/detect.h"
#include "base/charset/sjis.h"
#include "mail/view/part_names.h"
#include "mail/view/view_internal.h"
#include "page/output/output_text.h"

#include <algorithm>
#include <initializer_list>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

namespace {

// Cleaned markup is handed to the output filter in pieces of about this size.
constexpr size_t kFlushSize = 3072;
// Elements tracked for closing; deeper start tags are dropped.
constexpr size_t kMaxOpen = 256;

// Their content or loading is active, or they switch the browser's parser
// into foreign content.
constexpr std::string_view kStopElements[] = {"iframe", "frame",  "frameset",   "embed",  "svg",
                                              "math",   "param",  "layer",      "ilayer", "xml",
                                              "import", "portal", "fencedframe"};
// Harmless once the tag is gone; some would swallow or take over the rest of
// the gateway page if they stayed.
constexpr std::string_view kDropElements[] = {
    "html",     "head",     "base",     "link",      "form",    "input",    "button",  "select",
    "option",   "optgroup", "textarea", "isindex",   "keygen",  "datalist", "output",  "fieldset",
    "details",  "summary",  "dialog",   "audio",     "video",   "source",   "track",   "template",
    "noscript", "xmp",      "listing",  "plaintext", "noembed", "noframes", "bgsound", "menuitem"};
constexpr std::string_view kVoidElements[] = {"area", "br",       "col",   "hr",  "img",
                                              "wbr",  "basefont", "image", "meta"};
// A start tag of one of these ends an open one of the same kind: siblings,
// not nesting.
constexpr std::string_view kSelfClosing[] = {"p", "li", "dt", "dd", "tr", "td", "th"};
// A start tag of one of these closes a paragraph open in button scope, with
// everything opened inside it (the elements the cleaner drops never reach
// the browser and are left out).
constexpr std::string_view kClosesParagraph[] = {
    "address",    "article", "aside",  "blockquote", "center", "dir",  "div",  "dl",
    "figcaption", "figure",  "footer", "header",     "hgroup", "main", "menu", "nav",
    "ol",         "p",       "search", "section",    "ul",     "h1",   "h2",   "h3",
    "h4",         "h5",      "h6",     "pre",        "li",     "dd",   "dt",   "hr"};
// Parts of a table, which the browser ignores outside one.
constexpr std::string_view kTableParts[] = {"td",    "th",      "tr",  "tbody",   "thead",
                                            "tfoot", "caption", "col", "colgroup"};
// What may stand straight inside a table, between its cells: the browser
// moves anything else out in front of the table.
constexpr std::string_view kTableContext[] = {"table", "tbody", "thead", "tfoot", "tr", "colgroup"};
// Where the browser's table modes begin and end.
constexpr std::string_view kTableStructure[] = {"table", "tbody", "thead",   "tfoot",   "tr",
                                                "td",    "th",    "caption", "colgroup"};
// The browser's special elements but address, div and p: where its search
// for an open list item or definition part stops. Its MathML and SVG ones
// never occur here (math and svg stop the scan), and an HTML element that
// merely shares a name, such as <mtext>, is no wall.
constexpr std::string_view kListItemWalls[] = {
    "applet",     "area",     "article", "aside",    "base",     "basefont",  "bgsound",
    "blockquote", "body",     "br",      "button",   "caption",  "center",    "col",
    "colgroup",   "details",  "dir",     "dl",       "embed",    "fieldset",  "figcaption",
    "figure",     "footer",   "form",    "frame",    "frameset", "h1",        "h2",
    "h3",         "h4",       "h5",      "h6",       "head",     "header",    "hgroup",
    "hr",         "html",     "iframe",  "img",      "input",    "keygen",    "link",
    "listing",    "main",     "marquee", "menu",     "meta",     "nav",       "noembed",
    "noframes",   "noscript", "object",  "ol",       "param",    "plaintext", "pre",
    "script",     "search",   "section", "select",   "source",   "style",     "summary",
    "table",      "tbody",    "td",      "template", "textarea", "tfoot",     "th",
    "thead",      "title",    "tr",      "track",    "ul",       "wbr",       "xmp"};
// Where the browser's search for such a paragraph stops.
constexpr std::string_view kButtonScope[] = {"applet", "caption", "html",   "table",    "td",
                                             "th",     "marquee", "object", "template", "button"};
constexpr std::string_view kAttributes[] = {
    "align",      "alt",     "bgcolor",  "border",  "cellpadding", "cellspacing", "class",
    "clear",      "color",   "cols",     "colspan", "compact",     "dir",         "face",
    "frame",      "headers", "height",   "hspace",  "id",          "lang",        "name",
    "noshade",    "nowrap",  "rows",     "rowspan", "rules",       "scope",       "size",
    "span",       "start",   "summary",  "title",   "valign",      "value",       "vspace",
    "width",      "abbr",    "axis",     "char",    "charoff",     "datetime",    "reversed",
    "label",      "text",    "link",     "vlink",   "alink",       "role",        "style",
    "background", "type",    "hreflang", "coords",  "shape",       "target"};
// Schemes whose URLs run code or carry a document of their own.
constexpr std::string_view kScriptSchemes[] = {"javascript", "vbscript", "livescript",
                                               "mocha",      "data",     "jscript"};
// Anything in a style sheet that old or new browsers execute or load unseen.
// Fonts are loads of their own: only pictures may come from the web.
constexpr std::string_view kCssDanger[] = {"expression", "behavior",  "behaviour", "binding",
                                           "script",     "mocha:",    "data:",     "@import",
                                           "image-set",  "@font-face"};

template <size_t N> bool Among(std::string_view word, const std::string_view (&list)[N]) {
    return std::find(std::begin(list), std::end(list), word) != std::end(list);
}

bool Among(std::string_view word, std::initializer_list<std::string_view> list) {
    return std::find(list.begin(), list.end(), word) != list.end();
}

char Lower(char ch) {
    return ch >= 'A' && ch <= 'Z' ? static_cast<char>(ch + ('a' - 'A')) : ch;
}

std::string LowerCopy(std::string_view s) {
    std::string out(s);
    for (char& ch : out) ch = Lower(ch);
    return out;
}

bool IsAlpha(char ch) {
    return (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z');
}

bool IsDigit(char ch) {
    return ch >= '0' && ch <= '9';
}

// The blanks of the HTML tokenizer; CR counts because browsers read it as LF.
bool IsHtmlSpace(char ch) {
    return ch == ' ' || ch == '\t' || ch == '\n' || ch == '\r' || ch == '\f';
}

// Whether a start tag of start ends the element open is on top of the
// browser's stack: a new item ends the last, a cell or row ends the cell.
// Ruby text ends only inside a ruby (where it also ends paragraphs and
// items); elsewhere <rt> nests like any other element.
bool ClosedBy(std::string_view open, std::string_view start, bool inRuby) {
    auto both = [&](std::string_view a, std::string_view b) {
        return (open == a || open == b) && (start == a || start == b);
    };
    if (start == "rt" || start == "rp")
        return inRuby && Among(open, {"rt", "rp", "rb", "p", "li", "dt", "dd"});
    if (open == start) return Among(open, kSelfClosing);
    return both("dt", "dd") || both("td", "th") ||
           ((open == "td" || open == "th") && start == "tr");
}

// Whether a ruby is open with no table or cell between it and the top.
bool RubyInScope(const std::vector<std::string>& open) {
    for (auto it = open.rbegin(); it != open.rend(); ++it) {
        if (*it == "ruby") return true;
        if (Among(*it, {"table", "td", "th", "caption", "marquee", "applet", "object"}))
            return false;
    }
    return false;
}

bool IsUrlBlank(char ch) {
    return static_cast<unsigned char>(ch) <= 0x20;
}

size_t FindNoCase(std::string_view hay, std::string_view needle, size_t from = 0) {
    if (needle.size() > hay.size()) return std::string_view::npos;
    for (size_t i = from; i + needle.size() <= hay.size(); i++) {
        size_t k = 0;
        while (k < needle.size() && Lower(hay[i + k]) == needle[k]) k++;
        if (k == needle.size()) return i;
    }
    return std::string_view::npos;
}

bool ContainsNoCase(std::string_view hay, std::string_view needle) {
    return FindNoCase(hay, needle) != std::string_view::npos;
}

bool StartsWith(std::string_view s, std::string_view prefix) {
    return s.substr(0, prefix.size()) == prefix;
}

// Names the cleaner writes back; anything else (quotes, "<", 8-bit bytes)
// only comes from broken or hostile markup.
bool IsPlainName(std::string_view name) {
    if (name.empty() || !IsAlpha(name[0])) return false;
    for (char ch : name) {
        if (!IsAlpha(ch) && !IsDigit(ch) && ch != '-' && ch != '_' && ch != ':' && ch != '.')
            return false;
    }
    return true;
}

struct Attribute {
    std::string name; // lower case
    std::string value;
    bool hasValue = false;
};

struct Tag {
    bool end = false;
    std::string name; // lower case
    std::vector<Attribute> attributes;
    size_t stop = 0; // after the closing '>'
};

// Tokenises the tag whose '<' is at start exactly as an HTML5 browser does
// (quoted values may hold '>', a quote after '=' only opens a value, "/"
// separates attributes). False when the text ends inside the tag: browsers
// then drop it.
bool ParseTag(std::string_view in, size_t start, Tag& tag) {
    const size_t n = in.size();
    size_t p = start + 1;
    if (p < n && in[p] == '/') {
        tag.end = true;
        p++;
    }
    while (p < n && !IsHtmlSpace(in[p]) && in[p] != '/' && in[p] != '>') tag.name += Lower(in[p++]);
    for (;;) {
        while (p < n && (IsHtmlSpace(in[p]) || in[p] == '/')) p++;
        if (p >= n) return false;
        if (in[p] == '>') {
            tag.stop = p + 1;
            return true;
        }
        Attribute a;
        a.name += Lower(in[p++]); // may be '=' or a quote: part of the name
        while (p < n && !IsHtmlSpace(in[p]) && in[p] != '/' && in[p] != '>' && in[p] != '=')
            a.name += Lower(in[p++]);
        size_t q = p;
        while (q < n && IsHtmlSpace(in[q])) q++;
        if (q < n && in[q] == '=') {
            p = q + 1;
            while (p < n && IsHtmlSpace(in[p])) p++;
            if (p >= n) return false;
            a.hasValue = true;
            if (in[p] == '"' || in[p] == '\'') {
                const size_t close = in.find(in[p], p + 1);
                if (close == std::string_view::npos) return false;
                a.value.assign(in.substr(p + 1, close - p - 1));
                p = close + 1;
            } else {
                const size_t v = p;
                while (p < n && !IsHtmlSpace(in[p]) && in[p] != '>') p++;
                a.value.assign(in.substr(v, p - v));
            }
        } else {
            p = q;
        }
        tag.attributes.push_back(std::move(a));
    }
}

// A URL as the browser's URL parser gets it: tabs and line ends anywhere and
// blanks and controls at either end removed.
std::string UrlForm(std::string_view value) {
    std::string v;
    for (char ch : value)
        if (ch != '\t' && ch != '\n' && ch != '\r') v += ch;
    size_t a = 0, b = v.size();
    while (a < b && IsUrlBlank(v[a])) a++;
    while (b > a && IsUrlBlank(v[b - 1])) b--;
    return v.substr(a, b - a);
}

// The value as a browser may read it once its character references are
// decoded, with every blank and control byte gone: more than a URL parser
// strips, so that no spelling of a script scheme slips through. Numeric
// references without their ";" count, as they do in browsers.
std::string SchemeForm(std::string_view value) {
    static constexpr struct {
        std::string_view name;
        char ch;
    } kNamed[] = {{"colon", ':'}, {"tab", '\t'}, {"newline", '\n'}, {"nbsp", ' '}};
    std::string out;
    for (size_t i = 0; i < value.size(); i++) {
        long code = -1;
        size_t next = i + 1;
        if (value[i] == '&' && next < value.size() && value[next] == '#') {
            next++;
            const bool hex = next < value.size() && Lower(value[next]) == 'x';
            if (hex) next++;
            const size_t digits = next;
            code = 0;
            for (; next < value.size(); next++) {
                const char ch = Lower(value[next]);
                const int d = IsDigit(ch)                     ? ch - '0'
                              : hex && ch >= 'a' && ch <= 'f' ? ch - 'a' + 10
                                                              : -1;
                if (d < 0) break;
                if (code < 0x110000) code = code * (hex ? 16 : 10) + d;
            }
            if (next == digits) code = -1;
        } else if (value[i] == '&') {
            for (const auto& n : kNamed) {
                if (LowerCopy(value.substr(next, n.name.size())) == n.name) {
                    code = n.ch;
                    next += n.name.size();
                    break;
                }
            }
        }
        char ch = value[i];
        if (code >= 0) {
            if (next < value.size() && value[next] == ';') next++;
            ch = code < 0x80 ? static_cast<char>(code) : '?';
            i = next - 1;
        }
        if (!IsUrlBlank(ch)) out += Lower(ch);
    }
    return out;
}

bool HasScriptScheme(std::string_view value) {
    const std::string v = SchemeForm(value);
    for (std::string_view scheme : kScriptSchemes) {
        if (StartsWith(v, scheme) && v.size() > scheme.size() && v[scheme.size()] == ':')
            return true;
    }
    return false;
}

enum class Verdict { Keep, Drop, Stop, Cid };

enum class UrlUse { Link, Load };

// A link may lead to the web, ftp, mail or news and to an anchor of the
// page; what loads by itself only from the web or from the message (cid:).
Verdict ClassifyUrl(std::string_view value, UrlUse use, std::string* cid) {
    const std::string v = UrlForm(value);
    if (v.empty()) return Verdict::Drop;
    const size_t k = v.find_first_of(":/?#");
    const std::string_view head = std::string_view(v).substr(0, k);
    // A character reference in front of the colon is decoded by the
    // browser before the scheme is read: "jav&#97;script:".
    if (head.find('&') != std::string_view::npos) return Verdict::Stop;
    if (k == std::string::npos || v[k] != ':')
        return use == UrlUse::Link && v[0] == '#' ? Verdict::Keep : Verdict::Drop;
    const std::string scheme = LowerCopy(head);
    if (!IsPlainName(scheme)) return Verdict::Drop;
    if (Among(scheme, kScriptSchemes)) return Verdict::Stop;
    if (scheme == "http" || scheme == "https") return Verdict::Keep;
    if (use == UrlUse::Link)
        return scheme == "ftp" || scheme == "mailto" || scheme == "news" ? Verdict::Keep
                                                                         : Verdict::Drop;
    if (scheme == "cid" && cid) {
        *cid = v.substr(k + 1);
        return Verdict::Cid;
    }
    return Verdict::Drop;
}

// Character references of a style attribute, which the browser decodes
// before the style sheet parser sees the text. Only the plain ASCII ones are
// taken; anything else is not worth the doubt.
bool DecodeReferences(std::string_view in, std::string& out) {
    out.clear();
    for (size_t i = 0; i < in.size(); i++) {
        if (in[i] != '&') {
            out += in[i];
            continue;
        }
        const size_t semi = in.find(';', i);
        if (semi == std::string_view::npos || semi - i > 10) return false;
        const std::string name = LowerCopy(in.substr(i + 1, semi - i - 1));
        long code = -1;
        if (name == "quot")
            code = '"';
        else if (name == "amp")
            code = '&';
        else if (name == "lt")
            code = '<';
        else if (name == "gt")
            code = '>';
        else if (name == "apos")
            code = '\'';
        else if (name.size() > 1 && name[0] == '#') {
            const bool hex = name[1] == 'x';
            const std::string digits = name.substr(hex ? 2 : 1);
            if (digits.empty()) return false;
            code = 0;
            for (char ch : digits) {
                int d = IsDigit(ch) ? ch - '0' : hex && ch >= 'a' && ch <= 'f' ? ch - 'a' + 10 : -1;
                if (d < 0) return false;
                code = code * (hex ? 16 : 10) + d;
                if (code > 0x7F) return false;
            }
        }
        if (code <= 0) return false;
        out += static_cast<char>(code);
        i = semi;
    }
    return true;
}

// The text with its /* */ comments taken out; the result is what is both
// checked and written, so a comment can hide nothing from the check.
// Each comment becomes `between`. The sheet the page carries gets a blank:
// taken out whole, a comment could join a '/' before it to a '*' after it
// into a comment the browser sees and the cleaner did not, hiding a quote
// and so shifting which url( the browser takes for real.
std::string WithoutComments(std::string_view css, std::string_view between) {
    std::string out;
    size_t i = 0;
    while (i < css.size()) {
        const size_t open = css.find("/*", i);
        if (open == std::string_view::npos) {
            out.append(css.substr(i));
            break;
        }
        out.append(css.substr(i, open - i));
        const size_t close = css.find("*/", open + 2);
        if (close == std::string_view::npos) break;
        out.append(between);
        i = close + 2;
    }
    return out;
}

// The markup of the tag being written back.
void AppendAttribute(std::string& out, std::string_view name, std::string_view value,
                     bool literal) {
    out += ' ';
    out.append(name);
    out += "=\"";
    for (char ch : value) {
        switch (ch) {
        case '"':
            out += "&quot;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '&':
            // Values keep their references unless they were decoded here.
            out += literal ? "&amp;" : "&";
            break;
        default:
            out += ch;
        }
    }
    out += '"';
}

// "iso-2022-jp" as a charset becomes "shift_jis": the page is Shift_JIS.
std::string RewriteCharset(std::string_view value, bool whole) {
    std::string v(value);
    size_t at = 0;
    if (!whole) {
        at = FindNoCase(v, "charset=");
        if (at == std::string::npos) return v;
        at += 8;
        while (at < v.size() && (v[at] == '"' || v[at] == ' ')) at++;
    } else {
        while (at < v.size() && v[at] == ' ') at++;
    }
    if (FindNoCase(std::string_view(v).substr(at), "iso-2022-jp") == 0)
        v.replace(at, 11, "shift_jis");
    return v;
}

class Cleaner {
public:
    Cleaner(Connection& c, std::string text) : c_(c), in_(std::move(text)) {}
    void Run();

private:
    void Put(std::string_view s);
    void Flush();
    void CloseFrom(size_t depth);
    void CloseOpen();
    void Stop(size_t at);
    // False when the scan stopped. next receives where the scan goes on.
    bool StartTag(const Tag& tag, size_t& next);
    size_t AfterRawText(std::string_view endTag, size_t from, size_t* close);
    void EndTag(const Tag& tag);
    bool Attributes(const Tag& tag, std::string& markup);
    bool StyleSheet(std::string_view css, bool attribute, std::string& out);
    void CloseParagraph();
    void CloseListItem(std::string_view start);
    bool InTableContext() const;
    size_t Innermost(std::initializer_list<std::string_view> names) const;
    void CloseForTablePart(std::string_view start);
    std::string CidUrl(std::string_view cid);

    Connection& c_;
    const std::string in_;
    std::string out_;
    std::vector<std::string> open_;
};

void Cleaner::Put(std::string_view s) {
    out_.append(s);
    if (out_.size() >= kFlushSize) Flush();
}

void Cleaner::Flush() {
    if (!out_.empty()) OutputText(c_, out_.c_str(), 0);
    out_.clear();
}

// Closes open_[depth..], innermost first, each by name: the browser ends
// some of them by itself but keeps others open past any end tag of an outer
// element (formatting elements it reopens later, what sits inside a table
// cell or a heading), and they would take in the gateway's page after the
// part. A <p> left open inside another element keeps that element's end tag
// from closing it (and a formatting element's end tag moves the <p> out to
// where it then holds what follows), so it is closed too. Only an
// outermost <p> is left to the block the page puts next: a </p> the
// browser already closed adds an empty paragraph.
void Cleaner::CloseFrom(size_t depth) {
    while (open_.size() > depth) {
        if (open_.back() != "p" || open_.size() > 1) Put("</" + open_.back() + ">");
        open_.pop_back();
    }
}

void Cleaner::CloseOpen() {
    CloseFrom(0);
    Flush();
}

// From here on the part is only shown, escaped, as its source: outside what
// the mail opened, so that no hidden element can keep it out of sight.
void Cleaner::Stop(size_t at) {
    CloseOpen();
    OutputText(c_, in_.c_str() + at, kOutText);
}

std::string Cleaner::CidUrl(std::string_view cid) {
    const std::string text(cid);
    std::string url;
    if (!attachment_url(url, c_, text.c_str(), true)) return "";
    note_cid_reference(c_, text.c_str());
    return url;
}

// lower: a sheet without its comments. A reader that drops blanks and
// controls may also find comments in what is left ("/\x03**/").
bool HasCssDanger(std::string_view lower) {
    std::string squeezed;
    for (char ch : lower)
        if (!IsUrlBlank(ch)) squeezed += ch;
    const std::string again = WithoutComments(squeezed, "");
    for (std::string_view word : kCssDanger)
        if (squeezed.find(word) != std::string::npos || again.find(word) != std::string::npos)
            return true;
    return false;
}

// The next "url(" outside the sheet's strings, from `from` on. Every quote
// opens a string to the browser's tokenizer, wherever it stands, and a
// "url(" inside one loads nothing; a scan that only knew the strings of
// url( ) would be shifted by one and take a real url( for string text. A
// string that a line end or the end of the text breaks makes the scan give
// up (npos, with broken set).
size_t NextUrl(std::string_view lower, size_t from, bool& broken) {
    for (size_t i = from; i < lower.size(); i++) {
        const char ch = lower[i];
        if (ch == '"' || ch == '\'') {
            const size_t close = lower.find_first_of(std::string{ch, '\n', '\r', '\f'}, i + 1);
            if (close == std::string_view::npos || lower[close] != ch) {
                broken = true;
                return std::string_view::npos;
            }
            i = close;
        } else if (lower.compare(i, 4, "url(") == 0) {
            return i;
        }
    }
    return std::string_view::npos;
}

bool Cleaner::StyleSheet(std::string_view css, bool attribute, std::string& out) {
    std::string text;
    if (attribute) {
        if (!DecodeReferences(css, text)) return false;
    } else {
        text.assign(css);
    }
    // Escapes can spell any word the checks look for.
    if (text.find('\\') != std::string::npos) return false;
    const std::string plain = WithoutComments(text, " ");
    const std::string lower = LowerCopy(plain);
    if (HasCssDanger(lower)) return false;
    // A sheet must not be able to end its own element early or hide markup.
    for (size_t lt = lower.find('<'); lt != std::string::npos; lt = lower.find('<', lt + 1))
        if (lower.compare(lt, 4, "<!--") != 0) return false;
    // A selector that tests attribute values reads the gateway's page as
    // well (its links and form carry the login); a picture loaded on a match
    // would tell the answer to the web.
    const bool readsAttributes = !attribute && lower.find('[') != std::string::npos;
    out.clear();
    size_t pos = 0;  // written up to here
    size_t scan = 0; // searched up to here: past a quoted URL's closing quote
    bool broken = false;
    for (size_t u = NextUrl(lower, 0, broken); u != std::string::npos;
         u = NextUrl(lower, scan, broken)) {
        size_t p = u + 4;
        out.append(plain, pos, p - pos);
        while (p < plain.size() && IsHtmlSpace(plain[p])) p++;
        const char quote = p < plain.size() && (plain[p] == '"' || plain[p] == '\'') ? plain[p] : 0;
        const size_t from = quote ? p + 1 : p;
        const size_t end =
            quote ? plain.find(quote, from) : plain.find_first_of(") \t\n\r\f", from);
        if (end == std::string::npos) return false;
        const std::string_view target = std::string_view(plain).substr(from, end - from);
        // Unquoted, a "(", a quote or a control makes the browser's tokenizer
        // give up on the whole url( ) up to the next ")"; quoted, a line end
        // breaks the string. Neither ends where this scan ends it.
        const auto broken = [quote](char ch) {
            const auto b = static_cast<unsigned char>(ch);
            if (quote) return ch == '\n' || ch == '\r' || ch == '\f';
            return ch == '(' || ch == '"' || ch == '\'' || b == 0x7F ||
                   (b < 0x20 && !IsHtmlSpace(ch));
        };
        if (std::any_of(target.begin(), target.end(), broken)) return false;
        std::string cid;
        const Verdict verdict = ClassifyUrl(target, UrlUse::Load, &cid);
        if (verdict == Verdict::Keep) {
            // A fragment names an element of an SVG document (clip-path,
            // marker): a document from the web, not a picture.
            if (readsAttributes || plain.find('#', from) < end) return false;
            note_remote_image(c_);
            out.append(plain, u + 4, end - (u + 4));
        } else if (verdict == Verdict::Cid) {
            const std::string url = CidUrl(cid);
            if (url.empty()) return false;
            // The path is the decoded Content-ID: a ")" or ";" there would end
            // the url( ) and start declarations nobody checked, a "(" would
            // read as another url( and a "/*" as a comment to a scan that
            // knows no strings. Quoted, and with those escaped, it is one
            // string to every reader.
            out.append(plain, u + 4, p - (u + 4));
            out += quote ? quote : '"';
            for (char ch : url) {
                if (ch == '(')
                    out += "%28";
                else if (ch == ')')
                    out += "%29";
                else if (ch == '*')
                    out += "%2A";
                else
                    out += ch;
            }
            if (!quote) out += '"';
        } else {
            return false;
        }
        pos = end;
        scan = quote ? end + 1 : end;
    }
    if (broken) return false;
    out.append(plain, pos, std::string::npos);
    // Content-IDs are decoded into the paths written here: they may spell
    // what the words above never met.
    return !HasCssDanger(LowerCopy(out));
}

// Writes the allowed attributes of a start tag into markup. False: stop.
bool Cleaner::Attributes(const Tag& tag, std::string& markup) {
    std::vector<std::string_view> seen;
    bool link = false;
    for (const Attribute& a : tag.attributes) {
        // Browsers keep the first of repeated attributes.
        if (std::find(seen.begin(), seen.end(), a.name) != seen.end()) continue;
        seen.push_back(a.name);
        const std::string& name = a.name;
        if (name == "href" && (tag.name == "a" || tag.name == "area")) {
            switch (ClassifyUrl(a.value, UrlUse::Link, nullptr)) {
            case Verdict::Stop:
                return false;
            case Verdict::Keep:
                AppendAttribute(markup, name, a.value, false);
                link = true;
                break;
            default:
                break;
            }
        } else if ((name == "src" && tag.name == "img") || name == "background") {
            std::string cid;
            switch (ClassifyUrl(a.value, UrlUse::Load, &cid)) {
            case Verdict::Stop:
                return false;
            case Verdict::Keep:
                note_remote_image(c_);
                AppendAttribute(markup, name, a.value, false);
                break;
            case Verdict::Cid: {
                const std::string url = CidUrl(cid);
                if (!url.empty()) AppendAttribute(markup, name, url, true);
                break;
            }
            default:
                break;
            }
        } else if (name == "usemap" && tag.name == "img") {
            const std::string v = UrlForm(a.value);
            // Nothing that would be written as a reference: a map name
            // needs none, and a second cleaning would drop what it became.
            if (!v.empty() && v[0] == '#' && v.find_first_of("&<>\"'") == std::string::npos)
                AppendAttribute(markup, name, v, false);
        } else if (name == "style") {
            std::string css;
            if (!StyleSheet(a.value, true, css)) return false;
            AppendAttribute(markup, name, css, true);
        } else if (tag.name == "meta") {
            // A named meta (referrer, ...) would act on the whole page.
            if (name == "charset" || name == "content")
                AppendAttribute(markup, name, RewriteCharset(a.value, name == "charset"), false);
            else if (name == "http-equiv")
                AppendAttribute(markup, name, a.value, false);
        } else if (tag.name == "style" && name == "media") {
            AppendAttribute(markup, name, a.value, false);
        } else if (Among(name, kAttributes) || StartsWith(name, "aria-")) {
            if (a.hasValue) {
                AppendAttribute(markup, name, a.value, false);
            } else {
                markup += ' ';
                markup += name;
            }
        }
    }
    // The page's address carries the login; a followed link must not learn it.
    if (link) markup += " rel=\"noopener noreferrer\"";
    if (tag.name == "img") markup += " referrerpolicy=\"no-referrer\"";
    return true;
}

// Raw text (style sheets, titles) runs to the first end tag of its element
// that a blank, "/" or ">" follows, for the browser as for this scan. close
// receives where that end tag starts (the end of the text without one);
// returns where the scan goes on.
size_t Cleaner::AfterRawText(std::string_view endTag, size_t from, size_t* close) {
    size_t at = from;
    for (;;) {
        at = FindNoCase(in_, endTag, at);
        if (at == std::string::npos || at + endTag.size() >= in_.size()) break;
        const char after = in_[at + endTag.size()];
        if (IsHtmlSpace(after) || after == '/' || after == '>') break;
        at += endTag.size();
    }
    if (at == std::string::npos) at = in_.size();
    if (close) *close = at;
    Tag tag;
    return at < in_.size() && ParseTag(in_, at, tag) ? tag.stop : in_.size();
}

bool Cleaner::StartTag(const Tag& tag, size_t& next) {
    next = tag.stop;
    if (Among(tag.name, kStopElements)) return false;
    for (const Attribute& a : tag.attributes) {
        if (StartsWith(a.name, "on") || HasScriptScheme(a.value)) return false;
    }
    if (tag.name == "meta") {
        bool keep = false;
        for (const Attribute& a : tag.attributes) {
            if (a.name == "http-equiv") {
                const std::string kind = LowerCopy(UrlForm(a.value));
                // refresh, set-cookie, x-ua-compatible and the like act on the
                // gateway's page.
                if (kind != "content-type" && kind != "content-language") return false;
                keep = true;
            } else if (a.name == "charset") {
                keep = true;
            }
        }
        if (!keep) return true;
    }
    if (tag.name == "title") {
        // The mail's own title would otherwise stand as text on the page.
        next = AfterRawText("</title", tag.stop, nullptr);
        return true;
    }
    if (Among(tag.name, kDropElements)) return true;
    // Kept, a cell outside a table would be a wall to the cleaner's searches
    // that the browser, which drops the tag, does not have.
    if (Among(tag.name, kTableParts) &&
        std::find(open_.begin(), open_.end(), "table") == open_.end())
        return true;

    const bool tablePart = Among(tag.name, kTableParts) || tag.name == "table";
    const bool container = tag.name != "body" && !Among(tag.name, kVoidElements);
    // Straight inside a table the browser puts an element in front of the
    // table but keeps it open above the table, where the cleaner would not
    // look for it: its start tag goes, its text stays (the browser moves
    // text out too). What carries no content (pictures, breaks) and style
    // sheets (which stay inside) may stand.
    if (!tablePart && container && tag.name != "style" && InTableContext()) return true;

    std::string markup = "<" + tag.name;
    if (!Attributes(tag, markup)) return false;
    markup += '>';

    if (tag.name == "style") {
        size_t close = 0;
        next = AfterRawText("</style", tag.stop, &close);
        std::string css;
        if (!StyleSheet(std::string_view(in_).substr(tag.stop, close - tag.stop), false, css))
            return false;
        Put(markup);
        Put(css);
        Put("</style>");
        return true;
    }
    if (Among(tag.name, {"li", "dd", "dt"})) CloseListItem(tag.name);
    if (Among(tag.name, kClosesParagraph)) CloseParagraph();
    if (container && (tag.name == "a" || tag.name == "nobr")) {
        // The browser ends an open one first, with all it holds (up to the
        // nearest cell, which keeps its own); ended by name here, it ends in
        // the same place.
        for (auto it = open_.rbegin(); it != open_.rend(); ++it) {
            if (Among(*it, {"td", "th", "caption", "marquee"})) break;
            if (*it == tag.name) {
                EndTag(tag);
                break;
            }
        }
    }
    if (container) {
        const bool inRuby = RubyInScope(open_);
        while (!open_.empty() && ClosedBy(open_.back(), tag.name, inRuby)) open_.pop_back();
    }
    if (tablePart) CloseForTablePart(tag.name);
    if (container) {
        // Too deep to follow: an element that is not closed for sure must not
        // be opened.
        if (open_.size() >= kMaxOpen) return true;
    }
    Put(markup);
    if (container) open_.push_back(tag.name);
    return true;
}

// The browser pops a paragraph in button scope, and all that is open inside
// it, before it opens a block; formatting elements among them it would open
// again around what follows, out to the gateway's page after the part. So
// what stands above the paragraph is closed here by name, and the paragraph
// is left to the browser.
void Cleaner::CloseParagraph() {
    for (size_t k = open_.size(); k-- > 0;) {
        if (Among(open_[k], kButtonScope)) return;
        if (open_[k] != "p") continue;
        CloseFrom(k + 1);
        open_.pop_back();
        return;
    }
}

// A new item ends the open one of its kind (a definition part ends either
// kind) with all that stands above it, unless a special element other than
// address, div or p stands between. Formatting elements among what it ends
// the browser would open again around what follows, out to the gateway's
// page, so what stands above the item is closed here by name.
void Cleaner::CloseListItem(std::string_view start) {
    for (size_t k = open_.size(); k-- > 0;) {
        const std::string& open = open_[k];
        if (start == "li" ? open == "li" : (open == "dd" || open == "dt")) {
            CloseFrom(k + 1);
            open_.pop_back(); // the browser ends the item itself
            return;
        }
        if (Among(open, kListItemWalls)) return;
    }
}

// Whether the browser reads what comes now as standing straight inside a
// table (its table, table body, row and column group modes), not in a cell
// or caption.
bool Cleaner::InTableContext() const {
    for (auto it = open_.rbegin(); it != open_.rend(); ++it)
        if (Among(*it, kTableStructure)) return Among(*it, kTableContext);
    return false;
}

// The depth of the innermost open element among names; npos when none is.
size_t Cleaner::Innermost(std::initializer_list<std::string_view> names) const {
    for (size_t k = open_.size(); k-- > 0;)
        if (Among(open_[k], names)) return k;
    return std::string::npos;
}

// A part of a table ends, by itself in the browser, whatever stands above
// the place it belongs: a cell ends the cell before it, a row the row, a
// column its column group or all in the table, a body or caption all in
// the table, and a table met straight inside a table the table. Ended by
// name here, they end in the same place in the browser. A part outside any
// table never gets here.
void Cleaner::CloseForTablePart(std::string_view start) {
    size_t parent;
    if (start == "table") {
        if (InTableContext()) CloseFrom(Innermost({"table"}));
        return;
    }
    if (start == "td" || start == "th")
        parent = Innermost({"tr", "tbody", "thead", "tfoot", "table"});
    else if (start == "tr")
        parent = Innermost({"tbody", "thead", "tfoot", "table"});
    else if (start == "col")
        parent = Innermost({"colgroup", "table"});
    else
        parent = Innermost({"table"});
    if (parent != std::string::npos) CloseFrom(parent + 1);
}

// Only what the mail itself opened is closed; an unmatched end tag could
// otherwise close the gateway's own elements around the part.
void Cleaner::EndTag(const Tag& tag) {
    auto it = std::find(open_.rbegin(), open_.rend(), tag.name);
    if (it == open_.rend()) return;
    const size_t depth = static_cast<size_t>(std::distance(it, open_.rend())) - 1;
    CloseFrom(depth + 1);
    open_.pop_back();
    Put("</" + tag.name + ">");
}

void Cleaner::Run() {
    const size_t n = in_.size();
    size_t text = 0;
    size_t i = 0;
    while ((i = in_.find('<', i)) != std::string::npos) {
        Put(std::string_view(in_).substr(text, i - text));
        const char next = i + 1 < n ? in_[i + 1] : '\0';
        const char after = i + 2 < n ? in_[i + 2] : '\0';
        if (IsAlpha(next) || (next == '/' && IsAlpha(after))) {
            Tag tag;
            if (!ParseTag(in_, i, tag)) return CloseOpen(); // browsers drop an unfinished tag
            const std::string_view source = std::string_view(in_).substr(i, tag.stop - i);
            if (ContainsNoCase(source, "script") || ContainsNoCase(source, "applet") ||
                ContainsNoCase(source, "object"))
                return Stop(i);
            size_t resume = tag.stop;
            if (IsPlainName(tag.name)) {
                if (tag.end) {
                    EndTag(tag);
                } else if (!StartTag(tag, resume)) {
                    return Stop(i);
                }
            }
            i = text = resume;
            continue;
        }
        size_t skip;
        if (next == '!' && in_.compare(i + 2, 2, "--") == 0) {
            // A comment ends at "-->" or "--!>"; "<!-->" and "<!--->" end at once.
            const size_t body = i + 4;
            if (in_.compare(body, 1, ">") == 0) {
                skip = body + 1;
            } else if (in_.compare(body, 2, "->") == 0) {
                skip = body + 2;
            } else {
                const size_t a = in_.find("-->", body);
                const size_t b = in_.find("--!>", body);
                const size_t end = std::min(a, b);
                skip = end == std::string::npos ? n : end + (end == a ? 3 : 4);
            }
        } else if (next == '!' || next == '?' || (next == '/' && after != '\0')) {
            // Doctypes, processing instructions and bogus comments ("</>" too)
            // end at the first '>'.
            const size_t gt = in_.find('>', i + 1);
            skip = gt == std::string::npos ? n : gt + 1;
        } else {
            Put("&lt;");
            skip = i + 1;
        }
        i = text = skip;
    }
    Put(std::string_view(in_).substr(text));
    CloseOpen();
}

// The bytes the scan works on are the bytes the page will carry: NUL and
// escape sequences, which the output filter or the browser would act on
// unseen, are resolved or removed, and a lead byte that has no trail byte
// after it is replaced, so no decoder can pair it with a quote or a '<'.
// NUL is removed again after the conversion: a broken two-byte run can
// decode to one, and the output filter would end the page there, inside
// whatever tag or value was open.
std::string Prepare(const char* html, size_t n) {
    std::string s;
    s.reserve(n);
    for (size_t i = 0; i < n; i++)
        if (html[i] != '\0') s += html[i];
    const int len = convert_to_sjis(s.data(), static_cast<int>(s.size()), kCodeSjis);
    s.resize(static_cast<size_t>(len));
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); i++) {
        const auto b = static_cast<unsigned char>(s[i]);
        if (b == 0x1B || b == 0) continue;
        if (is_sjis_lead(b)) {
            if (i + 1 < s.size() && is_sjis_trail(static_cast<unsigned char>(s[i + 1]))) {
                out += s[i];
                out += s[++i];
            } else {
                out += '?';
            }
            continue;
        }
        out += s[i];
    }
    return out;
}

} // namespace

void write_clean_html(Connection& c, const char* html, size_t n) {
    // Text before the part may have left the filter in a two-byte run, in
    // which the markup below would be read as kanji.
    view_reset_filter(c);
    Cleaner(c, Prepare(html, n)).Run();
}
