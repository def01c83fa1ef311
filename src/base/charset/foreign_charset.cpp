#include "base/charset/foreign_charset.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iconv.h>

namespace {

const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);
constexpr size_t kIconvFailed = static_cast<size_t>(-1);

inline char lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

// Labels as mail carries them, lower-cased into dst; false for anything that
// cannot be a charset name (iconv must never see "//" suffixes or paths).
bool normalise_label(const char* label, char (&dst)[kCharsetNameSize]) {
    if (!label) return false;
    size_t i = 0;
    for (; label[i]; ++i) {
        const char c = lower(label[i]);
        const bool ok = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
                        c == '.' || c == ':' || c == '+' || c == '(' || c == ')';
        if (!ok || i + 1 >= sizeof dst) return false;
        dst[i] = c;
    }
    dst[i] = '\0';
    return i > 0;
}

bool starts_with(const char* s, const char* prefix) {
    return strncmp(s, prefix, strlen(prefix)) == 0;
}

// Labels whose text the Japanese conversions already handle, and labels that
// mean plain ASCII.
bool japanese_or_ascii(const char* label) {
    if (starts_with(label, "iso-2022-jp") || starts_with(label, "euc-jp")) return true;
    static constexpr const char* kNames[] = {
        "shift_jis",   "shift-jis", "sjis",           "x-sjis",     "ms_kanji", "csshiftjis",
        "windows-31j", "cp932",     "ms932",          "x-ms-cp932", "us-ascii", "ascii",
        "us",          "iso646-us", "ansi_x3.4-1968", "csascii",
    };
    for (const char* name : kNames) {
        if (strcmp(label, name) == 0) return true;
    }
    return false;
}

// Mailers label text by the narrower standard while writing the wider code
// page; decoding by the superset shows what the sender saw.
const char* iconv_name(const char* label) {
    static constexpr struct {
        const char* label;
        const char* name;
    } kAliases[] = {
        {"iso-8859-1", "CP1252"}, {"iso8859-1", "CP1252"},     {"iso_8859-1", "CP1252"},
        {"latin1", "CP1252"},     {"gb2312", "GB18030"},       {"gbk", "GB18030"},
        {"x-gbk", "GB18030"},     {"euc-cn", "GB18030"},       {"csgb2312", "GB18030"},
        {"cp936", "GB18030"},     {"ks_c_5601-1987", "CP949"}, {"ks_c_5601", "CP949"},
        {"euc-kr", "CP949"},      {"x-windows-949", "CP949"},  {"big5", "BIG5-HKSCS"},
        {"x-big5", "BIG5-HKSCS"}, {"x-euc-jp", "EUC-JP"},
    };
    for (const auto& a : kAliases) {
        if (strcmp(label, a.label) == 0) return a.name;
    }
    return label;
}

// One decoder (label to UTF-32) and the encoder (UTF-32 to code page 932) per
// thread: a message converts line after line in the same charset, and iconv
// descriptors must not be shared between threads.
struct Converters {
    char label[kCharsetNameSize] = {};
    iconv_t decoder = kNoConverter;
    iconv_t encoder = kNoConverter;
    bool encoderTried = false;

    Converters() = default;
    Converters(const Converters&) = delete;
    Converters& operator=(const Converters&) = delete;
    ~Converters() {
        if (decoder != kNoConverter) iconv_close(decoder);
        if (encoder != kNoConverter) iconv_close(encoder);
    }

    iconv_t decoder_for(const char (&wanted)[kCharsetNameSize]) {
        if (label[0] && strcmp(label, wanted) == 0) return decoder;
        if (decoder != kNoConverter) iconv_close(decoder);
        memcpy(label, wanted, sizeof label);
        decoder = iconv_open("UTF-32LE", iconv_name(wanted));
        return decoder;
    }

    iconv_t to_sjis() {
        if (!encoderTried) {
            encoderTried = true;
            encoder = iconv_open("CP932", "UTF-32LE");
        }
        return encoder;
    }
};

thread_local Converters tConverters;

iconv_t decoder_for_label(const char* charset) {
    char label[kCharsetNameSize];
    if (!normalise_label(charset, label) || japanese_or_ascii(label)) return kNoConverter;
    return tConverters.decoder_for(label);
}

constexpr uint32_t kReplacement = 0xFFFD;

// Bounded output: a piece is written whole or the writer is full.
struct Writer {
    char* out;
    size_t room; // bytes usable before the NUL
    size_t len = 0;
    bool full = false;

    bool put(const char* bytes, size_t n) {
        if (full || room - len < n) {
            full = true;
            return false;
        }
        memcpy(out + len, bytes, n);
        len += n;
        return true;
    }

    // A character without a Shift_JIS form, or U+FFFD for invalid input.
    bool put_missing(uint32_t cp, ForeignMode mode) {
        if (mode == ForeignMode::Geta) {
            static constexpr char kGeta[] = {'\x81', '\xAC'};
            return cp == kReplacement ? put("?", 1) : put(kGeta, 2);
        }
        char ref[16];
        const int n = snprintf(ref, sizeof ref, "&#%u;", static_cast<unsigned>(cp));
        return put(ref, static_cast<size_t>(n));
    }
};

uint32_t load_le(const char* p) {
    const auto* b = reinterpret_cast<const unsigned char*>(p);
    return b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<uint32_t>(b[3]) << 24);
}

// Writes count code points (UTF-32LE at cps) as Shift_JIS. False when out
// filled up.
bool encode(Writer& w, iconv_t enc, char* cps, size_t count, ForeignMode mode) {
    char* sp = cps;
    size_t sl = count * 4;
    while (sl > 0) {
        char* op = w.out + w.len;
        size_t ol = w.room - w.len;
        const size_t r = iconv(enc, &sp, &sl, &op, &ol);
        w.len = static_cast<size_t>(op - w.out);
        if (r != kIconvFailed) break;
        if (errno == E2BIG) {
            w.full = true;
            return false;
        }
        if (!w.put_missing(load_le(sp), mode)) return false;
        sp += 4;
        sl -= 4;
    }
    return true;
}

// Drops U+0000 from the decoded code points: the text travels NUL-terminated.
size_t drop_nuls(char* cps, size_t count) {
    size_t kept = 0;
    for (size_t i = 0; i < count; ++i) {
        if (load_le(cps + 4 * i) == 0) continue;
        if (kept != i) memmove(cps + 4 * kept, cps + 4 * i, 4);
        ++kept;
    }
    return kept;
}

} // namespace

bool is_foreign_charset(const char* charset) {
    return decoder_for_label(charset) != kNoConverter && tConverters.to_sjis() != kNoConverter;
}

int convert_foreign_piece(const char* charset, const char* in, size_t n, char* out, size_t cap,
                          ForeignMode mode, bool more_follows, size_t* consumed, bool* full) {
    if (consumed) *consumed = 0;
    if (full) *full = false;
    if (!out || cap == 0) return -1;
    out[0] = '\0';
    const iconv_t dec = decoder_for_label(charset);
    const iconv_t enc = tConverters.to_sjis();
    if (dec == kNoConverter || enc == kNoConverter) return -1;
    iconv(dec, nullptr, nullptr, nullptr, nullptr);
    iconv(enc, nullptr, nullptr, nullptr, nullptr);

    Writer w{out, cap - 1};
    char* ip = const_cast<char*>(in ? in : "");
    size_t il = in ? n : 0;
    char cps[4 * 256];
    while (il > 0) {
        char* bp = cps;
        size_t bl = sizeof cps;
        const size_t r = iconv(dec, &ip, &il, &bp, &bl);
        const int err = r == kIconvFailed ? errno : 0;
        const size_t count = drop_nuls(cps, (sizeof cps - bl) / 4);
        if (!encode(w, enc, cps, count, mode)) break;
        if (err == EILSEQ) {
            if (!w.put_missing(kReplacement, mode)) break;
            ++ip;
            --il;
        } else if (err == EINVAL) {
            if (more_follows) break;
            if (!w.put_missing(kReplacement, mode)) break;
            ip += il;
            il = 0;
        } else if (err != E2BIG && err != 0) {
            break;
        }
    }
    out[w.len] = '\0';
    if (consumed) *consumed = static_cast<size_t>(ip - (in ? in : ip));
    if (full) *full = w.full;
    return static_cast<int>(w.len);
}

int convert_foreign_to_sjis(const char* charset, const char* in, size_t n, char* out, size_t cap,
                            ForeignMode mode) {
    return convert_foreign_piece(charset, in, n, out, cap, mode, false, nullptr, nullptr);
}
