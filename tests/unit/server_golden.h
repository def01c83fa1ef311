// Expected pages and data-file images kept as files beside the tests. A test
// names its golden by path relative to its own source file; with
// TARNBOX_UPDATE_GOLDENS=1 in the environment a mismatch rewrites the file
// instead of failing, so a deliberate change of output is one run away.
#pragma once
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <unistd.h>

namespace golden {

// The source folder of the test. __FILE__ is relative when the compiler ran
// in the build folder, which is where the test binary lives.
inline std::filesystem::path folder_of(const char* source) {
    std::filesystem::path p(source);
    if (p.is_relative()) {
        char exe[4096];
        ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
        if (n > 0) {
            exe[n] = 0;
            std::filesystem::path beside = std::filesystem::path(exe).parent_path() / p;
            if (std::filesystem::exists(beside)) p = beside;
        }
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
        else {
            static const char hex[] = "0123456789abcdef";
            out << "\\x" << hex[ch >> 4] << hex[ch & 15];
        }
    }
    return out.str();
}

// Empty when actual is want byte for byte; otherwise where they part, with
// some bytes of each around that place.
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
        if (!std::filesystem::exists(path) || read(path) != actual) {
            std::filesystem::create_directories(path.parent_path());
            std::ofstream(path, std::ios::binary | std::ios::trunc) << actual;
        }
        return "";
    }
    if (!std::filesystem::exists(path)) return "no golden " + path.string();
    return compare(path.filename().string(), read(path), actual);
}

} // namespace golden

// The golden file name beside the calling test's source.
#define GOLDEN_PATH(name) (golden::folder_of(__FILE__) / (name))
#define GOLDEN(name) golden::read(GOLDEN_PATH(name))
#define EXPECT_GOLDEN(name, actual) EXPECT_EQ(golden::diff(GOLDEN_PATH(name), (actual)), "")
