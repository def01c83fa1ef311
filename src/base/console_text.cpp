#include "base/console_text.h"
#include <cerrno>
#include <iconv.h>

namespace {

// iconv descriptors are not shared between threads: each call opens its own.
struct Converter {
    iconv_t cd;
    Converter(const char* to, const char* from) : cd(iconv_open(to, from)) {}
    ~Converter() {
        if (cd != reinterpret_cast<iconv_t>(-1)) iconv_close(cd);
    }
    bool ok() const { return cd != reinterpret_cast<iconv_t>(-1); }
};

} // namespace

bool utf8_to_sjis(std::string_view utf8, std::string& sjis_r) {
    Converter c("CP932", "UTF-8");
    if (!c.ok()) return false;
    sjis_r.assign(utf8.size() * 2 + 4, '\0');
    char* in = const_cast<char*>(utf8.data());
    size_t in_left = utf8.size();
    char* out = sjis_r.data();
    size_t out_left = sjis_r.size();
    if (iconv(c.cd, &in, &in_left, &out, &out_left) == static_cast<size_t>(-1)) return false;
    sjis_r.resize(sjis_r.size() - out_left);
    return true;
}

std::string sjis_to_utf8(std::string_view sjis) {
    Converter c("UTF-8", "CP932");
    std::string result;
    if (!c.ok()) return std::string(sjis);
    char* in = const_cast<char*>(sjis.data());
    size_t in_left = sjis.size();
    char buf[256];
    while (in_left > 0) {
        char* out = buf;
        size_t out_left = sizeof buf;
        size_t r = iconv(c.cd, &in, &in_left, &out, &out_left);
        result.append(buf, sizeof buf - out_left);
        if (r == static_cast<size_t>(-1) && errno != E2BIG) {
            result += '?';
            in++;
            in_left--;
        }
    }
    return result;
}
