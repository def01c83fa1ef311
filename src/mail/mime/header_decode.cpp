#include "base/charset/base64.h"
#include "base/charset/encoded_words.h"
#include "base/charset/foreign_charset.h"
#include "base/charset/quoted_printable.h"
#include "base/charset/sjis.h"
#include "mail/mime/mime_internal.h"
#include "mail/mime/mime_parser.h"

#include <cstring>

namespace {

// The bytes of a B or Q word (decode_encoded_words' rules), into dst of at
// least len bytes. Returns the count.
int decode_word_text(char* dst, const char* s, int len, bool q_encoding) {
    int w = 0;
    if (!q_encoding) {
        Base64Decoder dec;
        for (int i = 0; i < len && !dec.ended; ++i) {
            const int b = dec.feed(s[i]);
            if (b >= 0) dst[w++] = static_cast<char>(b);
        }
        return w;
    }
    for (int i = 0; i < len; ++i) {
        char c = s[i];
        if (c == '=' && len - i >= 3) {
            const int hi = hex_digit_value(s[i + 1]);
            const int lo = hex_digit_value(s[i + 2]);
            if (hi >= 0 && lo >= 0) {
                dst[w++] = static_cast<char>(hi * 16 + lo);
                i += 2;
                continue;
            }
        }
        dst[w++] = c == '_' ? ' ' : c;
    }
    return w;
}

} // namespace

int decode_header_value(char* dst, int dst_size, const char* value, ForeignMode mode) {
    if (!dst || dst_size <= 0) return -1;
    const char* s = value ? value : "";
    const int room = dst_size - 1;
    int w = 0;
    int i = 0;
    bool cut = false;
    char word[kDecodedHeaderSize];
    while (s[i]) {
        if (s[i] == '=' && s[i + 1] == '?') {
            // Word bounds exactly as decode_encoded_words finds them.
            EncodedWordSpan span;
            if (!find_encoded_word(s, i, span)) break;
            const int charset = span.charset;
            const int q = charset + span.charsetLength;
            const int text = span.text;
            const int end = text + span.textLength;
            const bool q_encoding = span.qEncoding;

            // RFC 2231 lets a language follow the charset after "*".
            char label[kCharsetNameSize] = "";
            const int label_len = q - charset;
            if (label_len < kCharsetNameSize) {
                memcpy(label, s + charset, static_cast<size_t>(label_len));
                label[label_len] = '\0';
                if (char* star = strchr(label, '*')) *star = '\0';
            }
            const int word_len = end + 2 - i;
            int n;
            if (is_foreign_charset(label) && end - text < static_cast<int>(sizeof word)) {
                const int bytes = decode_word_text(word, s + text, end - text, q_encoding);
                bool full = false;
                size_t used = 0;
                n = convert_foreign_piece(label, word, static_cast<size_t>(bytes), dst + w,
                                          static_cast<size_t>(room - w + 1), mode, false, &used,
                                          &full);
                if (full) n = -1;
            } else if (word_len < static_cast<int>(sizeof word)) {
                memcpy(word, s + i, static_cast<size_t>(word_len));
                word[word_len] = '\0';
                n = decode_encoded_words(dst + w, room - w + 1, word);
            } else {
                n = -1;
            }
            if (n < 0) {
                cut = true;
                break;
            }
            w += n;
            i = end + 2;
            continue;
        }
        const int n = append_sjis_char(dst, w, room, s + i);
        if (n == 0) {
            cut = true;
            break;
        }
        i += n;
    }
    dst[w] = '\0';
    return cut ? -1 : w;
}

int decode_header_line(const Connection& c, char* dst, int dst_size, const char* line) {
    const ForeignMode mode =
        (line && mime_starts_no_case(line, "Content-")) ? ForeignMode::Geta : mime_foreign_mode(c);
    return decode_header_value(dst, dst_size, line, mode);
}
