#include "base/charset/encoded_words.h"

#include "base/charset/base64.h"
#include "base/charset/quoted_printable.h"
#include "base/charset/sjis.h"

namespace {

constexpr unsigned char kEsc = 0x1B;

// Bounded writer for one word: fails instead of overrunning.
struct WordOut {
    unsigned char* d;
    int w;
    int room; // bytes usable before the NUL
    bool euc;
    bool two_byte = false;
    bool full = false;

    void raw(unsigned char b) {
        if (w >= room) {
            full = true;
            return;
        }
        d[w++] = b;
    }

    void escape(unsigned char a, unsigned char b) {
        raw(kEsc);
        raw(a);
        raw(b);
    }

    // EUC-JP bytes become JIS X 0208 between ESC $ B and ESC ( B.
    void put(unsigned char b) {
        if (!euc) return raw(b);
        if (b >= 0xA1) {
            if (!two_byte) {
                escape('$', 'B');
                two_byte = true;
            }
            raw(static_cast<unsigned char>(b - 0x80));
        } else {
            if (two_byte) {
                escape('(', 'B');
                two_byte = false;
            }
            raw(b);
        }
    }

    void finish() {
        if (two_byte) escape('(', 'B');
    }
};

inline char lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

bool is_euc_charset(const char* s, int len) {
    static constexpr char kName[] = "euc-jp";
    if (len < 6) return false;
    for (int i = 0; i < 6; ++i) {
        if (lower(s[i]) != kName[i]) return false;
    }
    return true;
}

void decode_base64_text(WordOut& out, const char* s, int len) {
    Base64Decoder dec;
    for (int i = 0; i < len && !dec.ended && !out.full; ++i) {
        const int b = dec.feed(s[i]);
        if (b >= 0) out.put(static_cast<unsigned char>(b));
    }
}

void decode_q_text(WordOut& out, const char* s, int len) {
    for (int i = 0; i < len && !out.full; ++i) {
        char c = s[i];
        if (c == '=' && len - i >= 3) {
            const int hi = hex_digit_value(s[i + 1]);
            const int lo = hex_digit_value(s[i + 2]);
            if (hi >= 0 && lo >= 0) {
                out.put(static_cast<unsigned char>(hi * 16 + lo));
                i += 2;
                continue;
            }
        }
        if (c == '_') c = ' ';
        out.put(static_cast<unsigned char>(c));
    }
}

} // namespace

bool find_encoded_word(const char* s, int i, EncodedWordSpan& span_r) {
    const int charset = i + 2;
    int q = charset;
    while (s[q] && s[q] != '?') ++q;
    if (!s[q]) return false;
    int text = q + 1;
    bool q_encoding = false;
    if ((s[text] == 'B' || s[text] == 'b') && s[text + 1] == '?') {
        text += 2;
    } else if ((s[text] == 'Q' || s[text] == 'q') && s[text + 1] == '?') {
        q_encoding = true;
        text += 2;
    }
    int end = text;
    while (s[end] && !(s[end] == '?' && s[end + 1] == '=')) ++end;
    if (!s[end]) return false;
    span_r = {charset, q - charset, text, end - text, q_encoding, end + 2};
    return true;
}

int decode_encoded_words(char* dst, int dst_size, const char* value) {
    if (!dst || dst_size <= 0) return -1;
    auto* d = reinterpret_cast<unsigned char*>(dst);
    const int room = dst_size - 1;
    int w = 0;
    bool cut = false;
    const char* s = value ? value : "";
    int i = 0;
    while (s[i]) {
        if (s[i] == '=' && s[i + 1] == '?') {
            EncodedWordSpan span;
            if (!find_encoded_word(s, i, span)) break;
            WordOut out{d, w, room, is_euc_charset(s + span.charset, span.charsetLength)};
            if (span.qEncoding) {
                decode_q_text(out, s + span.text, span.textLength);
            } else {
                decode_base64_text(out, s + span.text, span.textLength);
            }
            out.finish();
            if (out.full) {
                cut = true;
                break;
            }
            w = out.w;
            i = span.next;
            continue;
        }
        const int n = append_sjis_char(dst, w, room, s + i);
        if (n == 0) {
            cut = true;
            break;
        }
        i += n;
    }
    d[w] = '\0';
    return cut ? -1 : w;
}
