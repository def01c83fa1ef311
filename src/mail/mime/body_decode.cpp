#include "base/charset/base64.h"
#include "base/charset/detect.h"
#include "base/charset/foreign_charset.h"
#include "base/charset/quoted_printable.h"
#include "base/charset/sjis.h"
#include "mail/mime/mime_internal.h"
#include "mail/mime/mime_parser.h"
#include "mail/mime/mime_state.h"

#include <cstring>

namespace {

// Longest line taken; the POP3 line buffer never hands over more.
constexpr size_t kMaxLine = kLineSize - 1;

// Base64 groups may straddle lines. Up to kBase64CarrySize characters that do
// not complete a group wait for the next line whole; a longer line is decoded
// up to its last whole group and only the rest (at most three characters)
// waits, so alignment survives lines of any length. Characters outside the
// alphabet (blanks some encoders leave at line ends) do not count.
int decode_base64(MimeState& m, const char* line, size_t len, char* out) {
    const int carried = m.base64CarryLength;
    // Most lines of a base64 part are whole clean groups with nothing
    // waiting from the line before: they decode in place, without staging.
    if (carried == 0 && len % 4 == 0) {
        int used = 0;
        const int w = base64_decode_groups(out, line, static_cast<int>(len), &used);
        if (used == static_cast<int>(len)) return w;
    }
    char stage[kBase64CarrySize + kMaxLine + 1];
    size_t s = 0;
    if (carried > 0 && carried <= kBase64CarrySize) {
        memcpy(stage, m.base64Carry, static_cast<size_t>(carried));
        s = static_cast<size_t>(carried);
    }
    m.base64CarryLength = 0;
    m.base64Carry[0] = '\0';
    bool padded = false;
    for (size_t i = 0; i < len; ++i) {
        const auto b = static_cast<unsigned char>(line[i]);
        if (kBase64Values[b] == 255) continue;
        if (b == '=') padded = true;
        stage[s++] = static_cast<char>(b);
    }
    size_t decode = s;
    if (s % 4 != 0 && !padded) {
        decode = s <= static_cast<size_t>(kBase64CarrySize) ? 0 : s - s % 4;
        const size_t wait = s - decode;
        memcpy(m.base64Carry, stage + decode, wait);
        m.base64Carry[wait] = '\0';
        m.base64CarryLength = static_cast<int>(wait);
    }
    return base64_decode(out, stage, static_cast<int>(decode));
}

bool is_text_class(uint16_t cls) {
    return cls == kClassText || cls == kClassTextInAlternative || cls == kClassHtml;
}

// Foreign text to Shift_JIS; a character cut by the line end (base64 groups
// and soft breaks cut anywhere) waits in the carry for the next line.
int convert_foreign(Connection& c, const char* bytes, int n, char* out, size_t cap) {
    MimeState& m = c.mime;
    char stage[sizeof m.foreignCarry + kLineSize + kBase64CarrySize];
    size_t s = m.foreignCarryLength <= sizeof m.foreignCarry ? m.foreignCarryLength : 0;
    memcpy(stage, m.foreignCarry, s);
    memcpy(stage + s, bytes, static_cast<size_t>(n));
    s += static_cast<size_t>(n);
    m.foreignCarryLength = 0;
    size_t used = 0;
    bool full = false;
    const int w = convert_foreign_piece(m.textCharset, stage, s, out, cap, mime_foreign_mode(c),
                                        true, &used, &full);
    if (w >= 0 && !full && s - used <= sizeof m.foreignCarry) {
        memcpy(m.foreignCarry, stage + used, s - used);
        m.foreignCarryLength = static_cast<uint16_t>(s - used);
    }
    return w;
}

// Length of the longest prefix of s[0..n) that ends on a character boundary.
size_t whole_chars(const char* s, size_t n) {
    size_t i = 0;
    while (i < n) {
        const size_t k = is_sjis_lead(static_cast<unsigned char>(s[i])) ? 2 : 1;
        if (i + k > n) break;
        i += k;
    }
    return i;
}

} // namespace

int decode_body_line(Connection& c, const char* line, char* out, size_t cap) {
    if (!out || cap == 0) return 0;
    out[0] = '\0';
    MimeState& m = c.mime;
    if (!line) line = "";
    // POP3 doubles a leading dot on every line.
    if (line[0] == '.' && line[1] == '.') ++line;
    const size_t len = strnlen(line, kMaxLine);

    char decoded[kLineSize + kBase64CarrySize + 8];
    int n = 0;
    switch (m.transferMode) {
    case kTransferBase64:
        n = decode_base64(m, line, len, decoded);
        break;
    case kTransferQuotedPrintable:
        n = qp_decode_line(decoded, line, static_cast<int>(len));
        if (n == 0) {
            memcpy(decoded, "\r\n", 3);
            n = 2;
        }
        break;
    case kTransferEucJp:
        n = euc_to_sjis(decoded, line, static_cast<int>(len));
        break;
    default:
        memcpy(decoded, line, len);
        n = static_cast<int>(len);
        break;
    }
    if (n <= 0) return 0;

    const bool text = is_text_class(m.contentClass);
    if (text && m.textCharset[0]) {
        const int w = convert_foreign(c, decoded, n, out, cap);
        if (w >= 0) return w;
    }
    size_t k = static_cast<size_t>(n) < cap - 1 ? static_cast<size_t>(n) : cap - 1;
    if (text && k < static_cast<size_t>(n)) k = whole_chars(decoded, k);
    memcpy(out, decoded, k);
    out[k] = '\0';
    return static_cast<int>(k);
}
