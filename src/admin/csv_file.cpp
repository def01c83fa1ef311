#include "admin/csv_file.h"

#include "admin/admin_context.h"
#include "base/charset/sjis.h"
#include "base/console_text.h"
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool is_continuation(unsigned char c) {
    return (c & 0xC0) == 0x80;
}

// Length of the well-formed UTF-8 sequence at s[i], or 0.
size_t utf8_sequence(std::string_view s, size_t i) {
    auto at = [&](size_t k) { return static_cast<unsigned char>(s[i + k]); };
    unsigned char c = at(0);
    size_t left = s.size() - i;
    if (c < 0x80) return 1;
    if (c >= 0xC2 && c <= 0xDF) return left >= 2 && is_continuation(at(1)) ? 2 : 0;
    if (c >= 0xE0 && c <= 0xEF) {
        if (left < 3 || !is_continuation(at(1)) || !is_continuation(at(2))) return 0;
        if (c == 0xE0 && at(1) < 0xA0) return 0;  // overlong
        if (c == 0xED && at(1) >= 0xA0) return 0; // surrogate
        return 3;
    }
    if (c >= 0xF0 && c <= 0xF4) {
        if (left < 4 || !is_continuation(at(1)) || !is_continuation(at(2)) ||
            !is_continuation(at(3)))
            return 0;
        if (c == 0xF0 && at(1) < 0x90) return 0;  // overlong
        if (c == 0xF4 && at(1) >= 0x90) return 0; // beyond U+10FFFF
        return 4;
    }
    return 0;
}

// Cuts a Shift_JIS line to kCsvLineBytes, keeping the last character whole.
void cut_line(std::string& line) {
    size_t i = 0;
    while (i < line.size()) {
        size_t n = is_sjis_lead(static_cast<unsigned char>(line[i])) && i + 1 < line.size() ? 2 : 1;
        if (i + n > kCsvLineBytes) break;
        i += n;
    }
    line.resize(i);
}

bool read_whole_file(const std::string& path, std::string& bytes_r) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        admin_fail("ファイル " + path + " を開けません: " + strerror(errno));
        return false;
    }
    struct stat st;
    bool ok = fstat(fd, &st) == 0;
    if (ok && !S_ISREG(st.st_mode)) {
        admin_fail("ファイル " + path + " は通常のファイルではありません。");
        close(fd);
        return false;
    }
    if (ok && static_cast<unsigned long long>(st.st_size) > kCsvFileBytes) {
        admin_fail("ファイル " + path + " が大きすぎます (" + std::to_string(kCsvFileBytes) +
                   " バイトまで)。");
        close(fd);
        return false;
    }
    bytes_r.clear();
    char buf[65536];
    while (ok) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        bytes_r.append(buf, static_cast<size_t>(n));
        // The file may have grown since fstat.
        if (bytes_r.size() > kCsvFileBytes) {
            admin_fail("ファイル " + path + " が大きすぎます (" + std::to_string(kCsvFileBytes) +
                       " バイトまで)。");
            close(fd);
            return false;
        }
    }
    if (!ok) admin_fail("ファイル " + path + " を読めません: " + strerror(errno));
    close(fd);
    return ok;
}

} // namespace

bool looks_like_utf8(std::string_view bytes) {
    if (bytes.substr(0, kByteOrderMark.size()) == kByteOrderMark) return true;
    bool multi_byte = false;
    for (size_t i = 0; i < bytes.size();) {
        size_t n = utf8_sequence(bytes, i);
        if (n == 0) return false;
        multi_byte |= n > 1;
        i += n;
    }
    return multi_byte;
}

size_t decode_csv_text(std::string_view bytes, CsvText& text_r) {
    text_r.lines.clear();
    text_r.broken.clear();
    text_r.utf8 = looks_like_utf8(bytes);
    if (bytes.substr(0, kByteOrderMark.size()) == kByteOrderMark)
        bytes.remove_prefix(kByteOrderMark.size());
    size_t number = 0;
    while (!bytes.empty()) {
        number++;
        size_t end = bytes.find('\n');
        std::string_view raw = bytes.substr(0, end);
        bytes.remove_prefix(end == std::string_view::npos ? bytes.size() : end + 1);
        const size_t cr = raw.find('\r');
        text_r.broken.push_back(raw.find('\0') != std::string_view::npos ||
                                (cr != std::string_view::npos && cr + 1 != raw.size()));
        raw = raw.substr(0, raw.find('\0'));
        std::string line;
        line.reserve(raw.size());
        for (char c : raw)
            if (c != '\r') line += c;
        if (text_r.utf8) {
            std::string sjis;
            if (!utf8_to_sjis(line, sjis)) return number;
            line.swap(sjis);
        }
        cut_line(line);
        text_r.lines.push_back(std::move(line));
    }
    return 0;
}

bool read_csv_file(const std::string& path, CsvText& text_r) {
    std::string bytes;
    if (!read_whole_file(path, bytes)) return false;
    if (size_t bad = decode_csv_text(bytes, text_r)) {
        admin_fail("ファイル " + path + " の " + std::to_string(bad) +
                   " 行目に Shift_JIS で表せない文字が含まれています。");
        return false;
    }
    return true;
}

std::vector<std::string> split_csv_columns(std::string_view line) {
    std::vector<std::string> columns(1);
    bool quoted = false;
    for (char c : line) {
        if (c == '"') {
            quoted = !quoted;
        } else if (c == ',' && !quoted) {
            columns.emplace_back();
        } else {
            columns.back() += c;
        }
    }
    return columns;
}
