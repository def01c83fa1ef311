// Expected pages and data-file images kept as files beside the tests, named
// relative to the test's source. TARNBOX_UPDATE_GOLDENS=1 rewrites a golden
// that differs instead of failing.
#pragma once
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <unistd.h>

namespace golden {

// __FILE__ is relative when the compiler ran in the build folder, which is
// where the test binary lives.
inline std::filesystem::path folder_of(const char* source) {
    std::filesystem::path p(source);
    char exe[4096];
    ssize_t n = p.is_relative() ? readlink("/proc/self/exe", exe, sizeof exe - 1) : 0;
    if (n > 0) {
        exe[n] = 0;
        auto beside = std::filesystem::path(exe).parent_path() / p;
        if (std::filesystem::exists(beside)) p = beside;
    }
    return p.parent_path();
}

inline std::string read(const std::filesystem::path& path) {
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

inline std::string printable(const std::string& s, size_t from, size_t n) {
    std::ostringstream out;
    for (size_t i = from; i < s.size() && i < from + n; i++) {
        unsigned char ch = static_cast<unsigned char>(s[i]);
        if (ch >= 0x20 && ch < 0x7F && ch != '\\')
            out << ch;
        else
            out << "\\x"
                << "0123456789abcdef"[ch >> 4] << "0123456789abcdef"[ch & 15];
    }
    return out.str();
}

// Empty when actual is want byte for byte; otherwise where they part.
inline std::string compare(const std::string& label, const std::string& want,
                           const std::string& actual) {
    if (want == actual) return "";
    size_t at = 0;
    while (at < want.size() && at < actual.size() && want[at] == actual[at]) at++;
    const size_t from = at < 40 ? 0 : at - 40;
    std::ostringstream out;
    out << label << ": differs at byte " << at << " (golden " << want.size() << " bytes, actual "
        << actual.size() << ")\n  golden: " << printable(want, from, 120)
        << "\n  actual: " << printable(actual, from, 120);
    return out.str();
}

inline std::string diff(const std::filesystem::path& path, const std::string& actual) {
    if (std::getenv("TARNBOX_UPDATE_GOLDENS")) {
        std::filesystem::create_directories(path.parent_path());
        if (!std::filesystem::exists(path) || read(path) != actual)
            std::ofstream(path, std::ios::binary | std::ios::trunc) << actual;
        return "";
    }
    if (!std::filesystem::exists(path)) return "no golden " + path.string();
    return compare(path.filename().string(), read(path), actual);
}

} // namespace golden

#define GOLDEN_PATH(name) (golden::folder_of(__FILE__) / (name))
#define GOLDEN(name) golden::read(GOLDEN_PATH(name))
#define EXPECT_GOLDEN(name, actual) EXPECT_EQ(golden::diff(GOLDEN_PATH(name), (actual)), "")
