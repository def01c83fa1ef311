#pragma once
// Helpers shared by the character-set tests: exactly-sized heap buffers, so
// AddressSanitizer reports any access past the bytes a call may touch, and a
// small wrapper around glibc iconv as the reference converter.

#include <iconv.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace charset_test {

// A heap copy of bytes with `extra` more bytes after them (zero-filled).
inline std::unique_ptr<char[]> heap_copy(std::string_view bytes, std::size_t extra = 0) {
    std::unique_ptr<char[]> p(new char[bytes.size() + extra]);
    std::memcpy(p.get(), bytes.data(), bytes.size());
    std::memset(p.get() + bytes.size(), 0, extra);
    return p;
}

// NUL-terminated heap copy with nothing after the NUL.
inline std::unique_ptr<char[]> heap_cstr(std::string_view bytes) {
    return heap_copy(bytes, 1);
}

// The lines of s without their CR LF; a final line end starts no line.
inline std::vector<std::string> crlf_lines(const std::string& s) {
    std::vector<std::string> lines;
    for (std::size_t at = 0, end; at < s.size(); at = end + 2) {
        end = std::min(s.find("\r\n", at), s.size());
        lines.push_back(s.substr(at, end - at));
    }
    return lines;
}

class Iconv {
public:
    Iconv(const char* from, const char* to) : cd_(iconv_open(to, from)) {}
    ~Iconv() {
        if (ok()) iconv_close(cd_);
    }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;

    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

    // The whole conversion of in, or nothing when iconv rejects any of it.
    std::optional<std::string> operator()(std::string_view in) {
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        std::string out(in.size() * 4 + 16, '\0');
        char* ip = const_cast<char*>(in.data());
        std::size_t il = in.size();
        char* op = out.data();
        std::size_t ol = out.size();
        if (iconv(cd_, &ip, &il, &op, &ol) == static_cast<std::size_t>(-1)) return std::nullopt;
        if (iconv(cd_, nullptr, nullptr, &op, &ol) == static_cast<std::size_t>(-1)) {
            return std::nullopt;
        }
        out.resize(out.size() - ol);
        return out;
    }

private:
    iconv_t cd_;
};

} // namespace charset_test
