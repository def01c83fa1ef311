#include "page/output/output_text.h"
#include "base/text/ncr_length.h"
#include "page/output/output_filter_state.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "base/charset/kana.h"
#include "base/charset/sjis.h"
#include "base/text/char_class.h"
#include "base/text/sjis_pair.h"
#include "store/data_file.h"

namespace {

// One byte short of the buffer: the filter never sends more than this at once.
constexpr int kMaxPiece = kFilterBlockSize - 1;

constexpr unsigned char kEsc = 0x1B;
constexpr unsigned char kShiftOut = 0x0E;
constexpr unsigned char kShiftIn = 0x0F;
constexpr unsigned char kVoicedMark = 0xDE;
constexpr unsigned char kSemiVoicedMark = 0xDF;
constexpr uint16_t kFullWidthSpace = 0x8140;

// Values of OutputFilterState::state.
enum : uint16_t {
    kStateSingle = 0,
    kStateSecondByte = 1,
    kStateEscape = 2,
    kStateIntermediate = 3,
    kStateKanji = 4,
    kStateKatakana = 7,
};

// Values of OutputFilterState::linkKind.
enum : uint16_t { kLinkWord = 1, kLinkWeb = 2, kLinkFtp = 3, kLinkAt = 4, kLinkMail = 5 };

// A link needs more than the bare "http://" or "ftp://" prefix.
constexpr int kMinLinkLength = 8;

// The state of one OutputText call; everything that outlives the call is in c.
struct Filter {
    Connection& c;
    int flags;
    int fill;           // bytes staged in c.filter.text
    unsigned char prev; // previous input byte of this call
};

} // namespace

static void SendStaged(Filter& f) {
    if (f.fill > 0) SendRaw(f.c, f.c.filter.text, static_cast<size_t>(f.fill));
    f.fill = 0;
}

// Adds one piece (at most kMaxPiece bytes), sending first when it would not fit.
static void Add(Filter& f, const char* piece, int n) {
    if (f.fill + n > kMaxPiece) SendStaged(f);
    memcpy(f.c.filter.text + f.fill, piece, static_cast<size_t>(n));
    f.fill += n;
}

static void Add(Filter& f, const char* text) {
    Add(f, text, static_cast<int>(strlen(text)));
}

// In text mode no byte of the message may become markup, whatever path it
// took through the filter: a byte after an unknown escape, after a held kana,
// or the second byte of a code made from broken JIS could otherwise be "<".
static bool AddEscaped(Filter& f, unsigned char b) {
    if (!(f.flags & kOutText)) return false;
    switch (b) {
    case '<':
        Add(f, "&lt;", 4);
        return true;
    case '>':
        Add(f, "&gt;", 4);
        return true;
    case '&':
        Add(f, "&amp;", 5);
        return true;
    default:
        return false;
    }
}

static void AddByte(Filter& f, unsigned char b) {
    if (AddEscaped(f, b)) return;
    if (f.fill + 1 > kMaxPiece) SendStaged(f);
    f.c.filter.text[f.fill++] = static_cast<char>(b);
}

static void AddCode(Filter& f, uint16_t code) {
    const auto low = static_cast<unsigned char>(code & 0xFF);
    if ((f.flags & kOutText) && (low == '<' || low == '>' || low == '&')) {
        AddByte(f, static_cast<unsigned char>(code >> 8));
        AddByte(f, low);
        return;
    }
    const char pair[2] = {static_cast<char>(code >> 8), static_cast<char>(low)};
    Add(f, pair, 2);
}

// Bytes that the filter does not understand go out unchanged (escaped on text
// pages).
static void AddPassThrough(Filter& f, const char* bytes, int n) {
    for (int i = 0; i < n; i++) AddByte(f, static_cast<unsigned char>(bytes[i]));
}

// Length of the longest prefix of s (at most n bytes, stopping at a NUL) that
// does not end in the middle of a two-byte character.
static int WholeCharLength(const char* s, int n) {
    int i = 0;
    while (i < n && s[i]) {
        auto b = static_cast<unsigned char>(s[i]);
        if (!IsTextLeadByte(b)) {
            ++i;
        } else if (i + 1 >= n) {
            break;
        } else {
            i += SjisPairAt(s + i) ? 2 : 1;
        }
    }
    return i;
}

static bool FoldingApplies(const Connection& c) {
    const BasicSettings& s = data_store().settings;
    if (s.user_policy_1 & kPolicy1FoldingFixed) return !(s.user_policy_3 & kPolicy3FoldingOff);
    return c.user && c.user->options[folding] == 1;
}

static void AddQuotation(Filter& f) {
    const BasicSettings& s = data_store().settings;
    const char* mark = nullptr;
    int capacity = 0;
    if ((s.language_policy & kLanguageQuotationFixed) && s.fixed_quotation[0]) {
        mark = s.fixed_quotation;
        capacity = sizeof s.fixed_quotation;
    } else if (f.c.user) {
        int set =
            f.c.settingsIndex >= 0 && f.c.settingsIndex < kSettingsSets ? f.c.settingsIndex : 0;
        mark = f.c.user->set[set].quotation;
        capacity = sizeof f.c.user->set[set].quotation;
    }
    if (!mark) return;
    int n = WholeCharLength(mark, capacity - 1);
    if (n > 0) Add(f, mark, n);
}

// Shift_JIS text: half-width kana are held back for a possible sound mark and
// lead bytes are tracked so that a second byte is never taken for anything else.
static void RawByte(Filter& f, unsigned char b) {
    Connection& c = f.c;
    if (b == kEsc) {
        c.filter.state = kStateEscape;
        return;
    }
    if (b >= 0xA1 && b <= 0xDD && c.filter.state == kStateSingle) {
        c.filter.pending = b;
        return;
    }
    AddByte(f, b);
    if (c.filter.state != kStateSingle) {
        c.filter.state = kStateSingle;
    } else if (is_sjis_lead(b)) {
        c.filter.state = kStateSecondByte;
    }
}

// Writes the held half-width kana as its full-width form, combined with b when
// b is a sound mark that fits it, then deals with b. Requires a held kana.
static void KanaStep(Filter& f, unsigned char b) {
    Connection& c = f.c;
    auto kana = static_cast<unsigned char>(c.filter.pending);
    uint16_t code = kana_to_sjis(kana);
    if (b == kVoicedMark && takes_voiced_mark(kana)) {
        code += 1;
    } else if (b == kSemiVoicedMark && takes_semivoiced_mark(kana)) {
        code += 2;
    }
    AddCode(f, code);
    if (b >= 0xA1 && b <= 0xDD) {
        c.filter.pending = b;
        return;
    }
    if (b == kVoicedMark || b == kSemiVoicedMark) {
        // A mark that does not fit the kana is dropped with it.
    } else if (b == kEsc) {
        c.filter.state = kStateEscape;
    } else {
        if (b != kShiftIn) AddByte(f, b);
        if (c.filter.state != kStateSingle) {
            c.filter.state = kStateSingle;
        } else if (is_sjis_lead(b)) {
            c.filter.state = kStateSecondByte;
        }
    }
    c.filter.pending = 0;
}

static void TextByte(Filter& f, unsigned char b) {
    Connection& c = f.c;
    switch (b) {
    case '<':
        Add(f, "&lt;", 4);
        return;
    case '>':
        Add(f, "&gt;", 4);
        return;
    case '&':
        Add(f, "&amp;", 5);
        return;
    case ' ':
        if (f.prev == ' ' && (c.browser & kBrowserMozilla4) && FoldingApplies(c)) {
            Add(f, "&nbsp;", 6);
            return;
        }
        break;
    case '\n':
        if (f.flags & kOutBreaks) {
            Add(f, "<br>", 4);
            return;
        }
        break;
    case '\r':
        if (f.flags & kOutBreaks) return;
        break;
    case kShiftOut:
        c.filter.pending = 0;
        c.filter.state = kStateKatakana;
        return;
    default:
        break;
    }
    RawByte(f, b);
}

// Writes the pending candidate, as a link when it qualifies, then b as text.
// b == 0 ends the text and writes nothing.
static void FlushLink(Filter& f, unsigned char b) {
    Connection& c = f.c;
    const char* text = c.filter.link;
    const int n = c.filter.linkLength;
    if (n >= kMinLinkLength && (c.filter.linkKind == kLinkWeb || c.filter.linkKind == kLinkFtp)) {
        Add(f, "<a href=\"");
        Add(f, text, n);
        Add(f, "\">");
        Add(f, text, n);
        Add(f, "</a>");
    } else if (c.filter.linkKind == kLinkMail) {
        if (c.settingsIndex > 0) {
            char head[48];
            int h = snprintf(head, sizeof head,
                             "<a href=\"/mail/write/index%d.html?to=", c.settingsIndex + 1);
            Add(f, head, h);
        } else {
            Add(f, "<a href=\"/mail/write/index.html?to=");
        }
        Add(f, text, n);
        Add(f, c.loginQuery, WholeCharLength(c.loginQuery, sizeof c.loginQuery - 1));
        Add(f, "\">");
        Add(f, text, n);
        Add(f, "</a>");
    } else {
        Add(f, text, n);
    }
    c.filter.linkLength = 0;
    if (b) TextByte(f, b);
}

// Whether b at position n keeps a candidate of kind on the way through its
// "http://" or "ftp://" prefix.
static bool FitsPrefix(uint16_t kind, int n, unsigned char b) {
    static constexpr char kWeb[] = "http://";
    static constexpr char kFtp[] = "ftp://";
    const char* prefix = kind == kLinkWeb ? kWeb : kFtp;
    const int length = kind == kLinkWeb ? sizeof kWeb - 1 : sizeof kFtp - 1;
    return n >= length || b == static_cast<unsigned char>(prefix[n]);
}

static void LinkByte(Filter& f, unsigned char b) {
    Connection& c = f.c;
    const int n = c.filter.linkLength;
    if (c.filter.linkKind == kLinkAt && b == '.') c.filter.linkKind = kLinkMail;
    // The cap keeps a candidate sendable as one piece.
    if (!IsLinkChar(b) || n >= kMaxPiece) {
        FlushLink(f, b);
        return;
    }
    c.filter.link[n] = static_cast<char>(b);
    if (c.filter.linkKind == kLinkWord && b == ':') {
        Add(f, c.filter.link, n + 1);
        c.filter.linkLength = 0;
        return;
    }
    if (b == '@') c.filter.linkKind = kLinkAt;
    if ((c.filter.linkKind == kLinkWeb || c.filter.linkKind == kLinkFtp) &&
        !FitsPrefix(c.filter.linkKind, n, b)) {
        c.filter.linkKind = kLinkWord;
    }
    c.filter.linkLength = static_cast<int16_t>(n + 1);
}

// Copies a run of plain ASCII in raw mode; the sends fall where byte-by-byte
// adding would put them.
static void AddRun(Filter& f, const unsigned char* run, int n) {
    while (n > 0) {
        int k = kMaxPiece - f.fill < n ? kMaxPiece - f.fill : n;
        memcpy(f.c.filter.text + f.fill, run, static_cast<size_t>(k));
        f.fill += k;
        run += k;
        n -= k;
        if (f.fill >= kMaxPiece) SendStaged(f);
    }
}

static void SingleByteState(Filter& f, unsigned char b) {
    Connection& c = f.c;
    if (c.filter.pending) {
        KanaStep(f, b);
    } else if (!(f.flags & kOutText)) {
        if ((f.flags & kOutQuote) && f.prev == '\n') AddQuotation(f);
        RawByte(f, b);
    } else if (c.filter.linkLength < 1) {
        if (c.filter.state == kStateSingle && (f.flags & kOutLinks) && IsAlnum(b)) {
            c.filter.link[0] = static_cast<char>(b);
            c.filter.linkLength = 1;
            c.filter.linkKind = b == 'h' ? kLinkWeb : b == 'f' ? kLinkFtp : kLinkWord;
        } else {
            TextByte(f, b);
        }
    } else {
        LinkByte(f, b);
    }
}

// Text-mode bytes that become themselves whatever surrounds them: printable
// ASCII but the markup characters, and the blank when a run of blanks may
// turn into &nbsp;.
static bool PlainTextByte(unsigned char b, bool blanksFold) {
    return b >= 0x20 && b < 0x7F && b != '<' && b != '>' && b != '&' && !(b == ' ' && blanksFold);
}

// A two-byte character whose bytes the states would pass through unchanged:
// the lead byte sets the second-byte state, the trail byte clears it again.
static bool WholePair(const unsigned char* s) {
    return is_sjis_lead(s[0]) && is_sjis_trail(s[1]);
}

// The end of the run from s that raw mode copies unchanged: ASCII but the
// escape, and whole two-byte characters (not half-width kana, which wait
// for a sound mark).
static const unsigned char* RawRunEnd(const unsigned char* s) {
    for (;;) {
        if (*s && *s < 0x80 && *s != kEsc) {
            ++s;
        } else if (WholePair(s)) {
            s += 2;
        } else {
            return s;
        }
    }
}

static const unsigned char* TextRunEnd(const unsigned char* s, bool blanksFold) {
    for (;;) {
        if (PlainTextByte(*s, blanksFold)) {
            ++s;
        } else if (WholePair(s)) {
            s += 2;
        } else {
            return s;
        }
    }
}

void OutputText(Connection& c, const char* text, int flags) {
    Filter f{c, flags, 0, 0};
    const bool plainRaw = !(flags & (kOutText | kOutQuote));
    // Text without links: its plain runs need none of the byte-by-byte
    // states (a list of ten thousand rows is mostly such runs).
    const bool plainText = (flags & kOutText) && !(flags & kOutLinks);
    const bool blanksFold = plainText && (c.browser & kBrowserMozilla4) && FoldingApplies(c);
    auto s = reinterpret_cast<const unsigned char*>(text);
    while (*s) {
        if (plainRaw && c.filter.state == kStateSingle && !c.filter.pending) {
            const unsigned char* end = RawRunEnd(s);
            if (end > s) {
                AddRun(f, s, static_cast<int>(end - s));
                f.prev = end[-1];
                s = end;
                continue;
            }
        }
        if (plainText && c.filter.state == kStateSingle && !c.filter.pending &&
            c.filter.linkLength < 1) {
            const unsigned char* end = TextRunEnd(s, blanksFold);
            if (end > s) {
                AddRun(f, s, static_cast<int>(end - s));
                f.prev = end[-1];
                s = end;
                continue;
            }
        }
        // A character reference made for a character Shift_JIS cannot hold
        // reaches the page as itself; it can never form markup.
        if ((flags & kOutText) && *s == '&' && c.filter.state == kStateSingle &&
            !c.filter.pending) {
            if (int ncr = foreign_ncr_length(reinterpret_cast<const char*>(s)); ncr > 0) {
                if (c.filter.linkLength > 0) FlushLink(f, 0);
                Add(f, reinterpret_cast<const char*>(s), ncr);
                f.prev = ';';
                s += ncr;
                continue;
            }
        }
        const unsigned char b = *s;
        switch (c.filter.state) {
        case kStateEscape:
            if (b == '$' || b == '(') {
                c.filter.state = kStateIntermediate;
                c.filter.pending = b;
            } else {
                const char bytes[2] = {static_cast<char>(kEsc), static_cast<char>(b)};
                AddPassThrough(f, bytes, 2);
                c.filter.state = kStateSingle;
            }
            break;
        case kStateIntermediate: {
            const auto middle = static_cast<unsigned char>(c.filter.pending);
            c.filter.pending = 0;
            if (middle == '$' && (b == 'B' || b == '@')) {
                c.filter.state = kStateKanji;
            } else if (middle == '(' && (b == 'B' || b == 'J')) {
                c.filter.state = kStateSingle;
            } else if (middle == '(' && b == 'I') {
                c.filter.state = kStateKatakana;
            } else {
                const char bytes[3] = {static_cast<char>(kEsc), static_cast<char>(middle),
                                       static_cast<char>(b)};
                AddPassThrough(f, bytes, 3);
                c.filter.state = kStateSingle;
            }
            break;
        }
        case kStateKanji:
            if (b == kEsc) {
                // A half character before the escape is lost; it must not
                // linger where a held kana is expected.
                c.filter.pending = 0;
                c.filter.state = kStateEscape;
            } else if (!c.filter.pending) {
                if (b == '\r' || b == '\n') {
                    AddByte(f, b);
                    c.filter.state = kStateSingle;
                } else {
                    c.filter.pending = b;
                }
            } else {
                uint16_t code = jis_to_sjis(static_cast<unsigned char>(c.filter.pending), b);
                AddCode(f, code ? code : kFullWidthSpace);
                c.filter.pending = 0;
            }
            break;
        case kStateKatakana:
            if (b == kShiftIn) {
                c.filter.state = kStateSingle;
                if (c.filter.pending) KanaStep(f, b);
            } else if (b == kEsc) {
                // The last kana of the run is written before the escape.
                if (c.filter.pending) {
                    KanaStep(f, b);
                } else {
                    c.filter.state = kStateEscape;
                }
            } else {
                // Seven-bit text names the kana; an eight-bit byte already is one.
                const unsigned char kana = b < 0x80 ? static_cast<unsigned char>(b + 0x80) : b;
                if (c.filter.pending) {
                    KanaStep(f, kana);
                } else {
                    c.filter.pending = kana;
                }
            }
            break;
        default:
            SingleByteState(f, b);
            break;
        }
        f.prev = b;
        if (f.fill >= kMaxPiece) SendStaged(f);
        ++s;
    }
    if (c.filter.linkLength > 0) FlushLink(f, 0);
    SendStaged(f);
}

void OutputFormat(Connection& c, int flags, const char* format, ...) {
    va_list args;
    va_start(args, format);
    int n = vsnprintf(c.filter.formatted, sizeof c.filter.formatted, format, args);
    va_end(args);
    if (n < 0) return;
    if (n >= static_cast<int>(sizeof c.filter.formatted)) {
        c.filter.formatted[WholeCharLength(c.filter.formatted, sizeof c.filter.formatted - 1)] =
            '\0';
    }
    OutputText(c, c.filter.formatted, flags);
}
