#include "base/charset/header_encode.h"

#include <cstdint>
#include <cstring>

#include "base/charset/base64.h"
#include "base/charset/kana.h"
#include "base/charset/sjis.h"

namespace {

constexpr unsigned char kEsc = 0x1B;
constexpr char kWordOpen[] = "=?ISO-2022-JP?B?";
constexpr int kWordOpenLen = sizeof kWordOpen - 1;
constexpr int kFoldLine = 80; // a blank or ',' folds when line + rest reaches this
constexpr int kWordLine = 70; // staged text is flushed before a word passes this

// The flush rule empties the stage before it passes 38 bytes (34 plus the
// closing escape); the size check in the loop only guards that reasoning.
constexpr int kStageSize = 64;

struct Encoder {
    Encoder(char* dst, int capacity) : d(dst), room(capacity) {}

    char* d;
    int w = 0;
    int room;
    bool cut = false;
    unsigned char stage[kStageSize];
    int pending = 0;
    int line = 0;

    bool put(const char* s, int n) {
        if (cut || room - w < n) {
            cut = true;
            return false;
        }
        std::memcpy(d + w, s, static_cast<std::size_t>(n));
        w += n;
        return true;
    }

    void stage_jis(std::uint16_t jis) {
        if (pending == 0) {
            stage[0] = kEsc;
            stage[1] = '$';
            stage[2] = 'B';
            pending = 3;
        }
        stage[pending++] = static_cast<unsigned char>(jis >> 8);
        stage[pending++] = static_cast<unsigned char>(jis);
    }

    // Writes the staged run as one word; returns its base64 length.
    int flush() {
        stage[pending++] = kEsc;
        stage[pending++] = '(';
        stage[pending++] = 'B';
        const int n = pending;
        pending = 0;
        const int b64 = base64_encoded_size(n);
        if (!cut && room - w >= kWordOpenLen + b64 + 2) {
            std::memcpy(d + w, kWordOpen, kWordOpenLen);
            w += kWordOpenLen;
            w += base64_encode(d + w, reinterpret_cast<const char*>(stage), n);
            d[w++] = '?';
            d[w++] = '=';
        } else {
            cut = true;
        }
        return b64;
    }
};

} // namespace

int has_more_text(const char* text) {
    if (!text || !text[0]) return 0;
    return (text[0] == '\r' && text[1] == '\n' && text[2] == '\0') ? 0 : 1;
}

int encode_header_words(char* dst, int dst_size, const char* text) {
    if (!dst || dst_size <= 0) return -1;
    const auto* s = reinterpret_cast<const unsigned char*>(text ? text : "");
    const int total = static_cast<int>(std::strlen(reinterpret_cast<const char*>(s)));
    Encoder e(dst, dst_size - 1);
    int i = 0;
    while (i < total && !e.cut) {
        const unsigned char c = s[i];
        if (is_sjis_lead(c)) {
            if (i + 1 < total) {
                e.stage_jis(sjis_to_jis(c, s[i + 1]));
                i += 2;
            } else {
                ++i;
            }
        } else if (is_halfwidth_kana(c)) {
            e.stage_jis(kana_to_jis(c));
            ++i;
        } else {
            if (e.pending > 0) e.line += kWordOpenLen + e.flush();
            e.put(reinterpret_cast<const char*>(s + i), 1);
            ++e.line;
            if ((c == ',' || c == ' ') && (total - i) + e.line >= kFoldLine &&
                has_more_text(reinterpret_cast<const char*>(s + i + 1)) &&
                !(i > 0 && s[i - 1] == ':')) {
                e.put("\r\n ", 3);
                e.line = 0;
            }
            ++i;
        }
        if (e.pending > 0 &&
            ((e.pending / 2) * 3 + e.line + 22 > kWordLine || e.pending > kStageSize - 8)) {
            e.flush();
            if (i < total && has_more_text(reinterpret_cast<const char*>(s + i))) e.put("\r\n ", 3);
            e.line = 0;
        }
    }
    if (e.pending > 0 && !e.cut) e.flush();
    dst[e.w] = '\0';
    return e.cut ? -1 : e.w;
}
