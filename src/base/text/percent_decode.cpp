#include "base/text/percent_decode.h"

#include <iconv.h>

#include "base/text/sjis_pair.h"
#include "base/text/url_encode.h"

namespace {

// One unit of the source: an escape gives its byte, any other byte itself.
// Returns the source bytes used, 0 at the end.
int DecodeUnit(const char* s, unsigned char& byte) {
    if (*s == '\0') return 0;
    if (*s == '%') {
        int v = HexPair(s + 1);
        if (v >= 0) {
            byte = static_cast<unsigned char>(v);
            return 3;
        }
    }
    byte = static_cast<unsigned char>(*s);
    return 1;
}

bool IsTrailByte(unsigned char b) {
    return b >= 0x40 && b <= 0xFC && b != 0x7F;
}

// Output bounded to capacity - 1 bytes; a piece that does not fit ends it.
struct Output {
    char* dst;
    size_t capacity;
    size_t length = 0;
    bool full = false;

    void Put(const unsigned char* bytes, size_t n) {
        if (full || length + n + 1 > capacity) {
            full = true;
            return;
        }
        for (size_t i = 0; i < n; ++i) dst[length++] = static_cast<char>(bytes[i]);
    }
    void Finish() {
        if (capacity > 0) dst[length] = '\0';
    }
};

// Decodes the unit at s, keeping a Shift_JIS pair (either byte escaped or
// not) as one piece. Returns the source bytes used, 0 at the end.
int DecodeCharacter(const char* s, Output& out) {
    unsigned char lead;
    int n = DecodeUnit(s, lead);
    if (n == 0) return 0;
    unsigned char trail;
    int m = IsTextLeadByte(lead) ? DecodeUnit(s + n, trail) : 0;
    if (m > 0 && IsTrailByte(trail)) {
        const unsigned char pair[2] = {lead, trail};
        out.Put(pair, 2);
        return n + m;
    }
    out.Put(&lead, 1);
    return n;
}

// Opened on the first three-byte character only: most names have none.
struct Utf8ToSjis {
    iconv_t cd = reinterpret_cast<iconv_t>(-1);
    bool tried = false;

    ~Utf8ToSjis() {
        if (cd != reinterpret_cast<iconv_t>(-1)) iconv_close(cd);
    }
    // Converts one character; returns the bytes written to sjis (1 or 2), or
    // 0 when it is not valid UTF-8 or has no Shift_JIS code.
    size_t Convert(const unsigned char utf8[3], char sjis[4]) {
        if (!tried) {
            tried = true;
            cd = iconv_open("CP932", "UTF-8");
        }
        if (cd == reinterpret_cast<iconv_t>(-1)) return 0;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        char in[3] = {static_cast<char>(utf8[0]), static_cast<char>(utf8[1]),
                      static_cast<char>(utf8[2])};
        char* ip = in;
        size_t il = sizeof in;
        char* op = sjis;
        size_t ol = 4;
        if (iconv(cd, &ip, &il, &op, &ol) == static_cast<size_t>(-1) || il != 0) return 0;
        return 4 - ol;
    }
};

// Three escapes in a row whose first byte starts a three-byte UTF-8
// character. Returns the source bytes used, 0 when s does not begin one.
int ConvertUtf8(const char* s, Output& out, Utf8ToSjis& converter) {
    unsigned char bytes[3];
    for (int i = 0; i < 3; ++i) {
        const char* p = s + 3 * i;
        if (*p != '%' || DecodeUnit(p, bytes[i]) != 3) return 0;
        if (i == 0 && (bytes[0] & 0xF0) != 0xE0) return 0;
    }
    char sjis[4];
    size_t n = converter.Convert(bytes, sjis);
    if (n > 0) {
        out.Put(reinterpret_cast<const unsigned char*>(sjis), n);
    } else {
        out.Put(bytes, 3);
    }
    return 9;
}

} // namespace

void PercentDecode(char* dst, const char* src, size_t capacity) {
    Output out{dst, capacity};
    for (const char* p = src; !out.full;) {
        int n = DecodeCharacter(p, out);
        if (n == 0) break;
        p += n;
    }
    out.Finish();
}

void PercentDecodeUtf8(char* dst, const char* src, size_t capacity) {
    Output out{dst, capacity};
    Utf8ToSjis converter;
    for (const char* p = src; !out.full;) {
        int n = ConvertUtf8(p, out, converter);
        if (n == 0) n = DecodeCharacter(p, out);
        if (n == 0) break;
        p += n;
    }
    out.Finish();
}
