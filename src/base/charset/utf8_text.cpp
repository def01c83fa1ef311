#include "base/charset/utf8_text.h"

#include "base/charset/sjis.h"

#include <iconv.h>

namespace {

constexpr char32_t kReplacement = 0xFFFD;

int digit_value(char b, int base) {
    if (b >= '0' && b <= '9') return b - '0';
    if (base == 16 && b >= 'a' && b <= 'f') return b - 'a' + 10;
    if (base == 16 && b >= 'A' && b <= 'F') return b - 'A' + 10;
    return -1;
}

void put_utf8(std::string& out, char32_t u) {
    if (u < 0x80) {
        out += static_cast<char>(u);
    } else if (u < 0x800) {
        out += static_cast<char>(0xC0 | (u >> 6));
        out += static_cast<char>(0x80 | (u & 0x3F));
    } else if (u < 0x10000) {
        out += static_cast<char>(0xE0 | (u >> 12));
        out += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (u & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (u >> 18));
        out += static_cast<char>(0x80 | ((u >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (u & 0x3F));
    }
}

// One converter per thread: iconv descriptors hold shift state.
struct Cp932ToUtf8 {
    iconv_t cd = iconv_open("UTF-8", "CP932");
    ~Cp932ToUtf8() {
        if (cd != reinterpret_cast<iconv_t>(-1)) iconv_close(cd);
    }
};

// One Shift_JIS character (one or two bytes) in UTF-8.
void put_sjis_char(std::string& out, const char* p, size_t n) {
    thread_local Cp932ToUtf8 conv;
    char in[2] = {p[0], n > 1 ? p[1] : '\0'};
    char buf[8];
    char* src = in;
    size_t left = n;
    char* dst = buf;
    size_t room = sizeof buf;
    if (conv.cd == reinterpret_cast<iconv_t>(-1) ||
        iconv(conv.cd, &src, &left, &dst, &room) == static_cast<size_t>(-1)) {
        iconv(conv.cd, nullptr, nullptr, nullptr, nullptr);
        put_utf8(out, kReplacement);
        return;
    }
    out.append(buf, static_cast<size_t>(dst - buf));
}

} // namespace

char32_t character_reference_at(const char* text, size_t n, size_t* length) {
    if (n < 4 || text[0] != '&' || text[1] != '#') return 0;
    size_t i = 2;
    int base = 10;
    if (text[i] == 'x' || text[i] == 'X') {
        base = 16;
        i++;
    }
    const size_t first = i;
    char32_t u = 0;
    for (int d; i < n && (d = digit_value(text[i], base)) >= 0; i++) {
        u = u * base + static_cast<char32_t>(d);
        if (u > 0x10FFFF) return 0;
    }
    if (i == first || i >= n || text[i] != ';') return 0;
    if (u == 0 || (u >= 0xD800 && u <= 0xDFFF)) return 0;
    if (length) *length = i + 1;
    return u;
}

bool has_character_references(const char* text, size_t n) {
    for (size_t i = 0; i < n; i++) {
        const auto b = static_cast<unsigned char>(text[i]);
        if (is_sjis_lead(b) && i + 1 < n) {
            i++;
            continue;
        }
        if (b == '&' && character_reference_at(text + i, n - i, nullptr)) return true;
    }
    return false;
}

std::string sjis_to_utf8(const char* text, size_t n) {
    std::string out;
    out.reserve(n + n / 2);
    for (size_t i = 0; i < n;) {
        const auto b = static_cast<unsigned char>(text[i]);
        size_t length = 0;
        if (b < 0x80) {
            const char32_t u = b == '&' ? character_reference_at(text + i, n - i, &length) : 0;
            if (u) {
                put_utf8(out, u);
                i += length;
            } else {
                out += static_cast<char>(b);
                i++;
            }
            continue;
        }
        const size_t take = is_sjis_lead(b) && i + 1 < n ? 2 : 1;
        put_sjis_char(out, text + i, take);
        i += take;
    }
    return out;
}
