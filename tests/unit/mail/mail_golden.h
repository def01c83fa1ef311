// Expected pages and case tables kept as files beside the tests that read
// them. A golden is compared byte for byte; run the tests with
// TARNBOX_WRITE_GOLDENS=1 to write what the product gives now instead (then
// read the diff before committing it).
//
// A case file is written by hand and never rewritten: records separated by
// blank lines, each line of a record one field, with \\ \n \r \t \xHH
// escapes so control and Shift_JIS bytes stay readable; \e is nothing, for
// an empty field. Lines starting with "#" are comments.
#pragma once
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace mail_golden {

// ccache hands the compiler paths relative to the build folder, which is
// where the test binary lives: a relative __FILE__ is resolved from there.
inline std::filesystem::path Beside(const char* sourceFile, const std::string& name) {
    std::filesystem::path source(sourceFile);
    if (source.is_relative()) {
        std::error_code error;
        const auto binary = std::filesystem::read_symlink("/proc/self/exe", error);
        source = (error ? std::filesystem::current_path() : binary.parent_path()) / source;
    }
    return source.parent_path() / name;
}

inline bool Writing() {
    const char* v = std::getenv("TARNBOX_WRITE_GOLDENS");
    return v && *v && *v != '0';
}

inline std::string ReadBytes(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return "<missing " + file.string() + ">";
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The named escapes, both ways; other control and non-ASCII bytes are \xHH.
inline constexpr char kNamed[] = "\\\\\nn\rr\tt";

inline std::string Escape(const std::string& bytes) {
    static const char kHex[] = "0123456789abcdef";
    if (bytes.empty()) return "\\e"; // a blank line would end the record
    std::string out;
    for (unsigned char ch : bytes) {
        const char* named = ch ? strchr(kNamed, ch) : nullptr;
        if (named && (named - kNamed) % 2 == 0)
            out += {'\\', named[1]};
        else if (ch < 0x20 || ch >= 0x7f)
            out += {'\\', 'x', kHex[ch >> 4], kHex[ch & 15]};
        else
            out += static_cast<char>(ch);
    }
    // Kept off the edges of a line: a comment mark, a blank editors drop.
    if (out[0] == '#') out.replace(0, 1, "\\x23");
    if (out.back() == ' ') out.replace(out.size() - 1, 1, "\\x20");
    return out;
}

inline std::string Unescape(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); i++) {
        if (text[i] != '\\' || i + 1 >= text.size()) {
            out += text[i];
        } else if (text[++i] == 'x' && i + 2 < text.size()) {
            out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else if (text[i] != 'e') {
            const char* named = strchr(kNamed, text[i]);
            out += named && (named - kNamed) % 2 == 1 ? named[-1] : text[i];
        }
    }
    return out;
}

// Where the bytes first differ: the line, and both sides around that byte,
// escaped.
inline std::string FirstDifference(const std::string& want, const std::string& got) {
    size_t at = 0;
    while (at < want.size() && at < got.size() && want[at] == got[at]) at++;
    const size_t line = static_cast<size_t>(std::count(want.begin(), want.begin() + at, '\n'));
    const size_t from = at > 60 ? at - 60 : 0;
    auto around = [&](const std::string& s) {
        return from >= s.size() ? std::string("<end>") : Escape(s.substr(from, at + 60 - from));
    };
    return "first difference on line " + std::to_string(line + 1) + ", byte " + std::to_string(at) +
           "\n  golden: " + around(want) + "\n  actual: " + around(got);
}

inline testing::AssertionResult Matches(const std::filesystem::path& file,
                                        const std::string& actual) {
    if (Writing()) {
        std::ofstream(file, std::ios::binary) << actual;
        return testing::AssertionSuccess();
    }
    const std::string want = ReadBytes(file);
    if (want == actual) return testing::AssertionSuccess();
    return testing::AssertionFailure()
           << file.filename().string() << ": " << FirstDifference(want, actual)
           << "\n(TARNBOX_WRITE_GOLDENS=1 writes the actual output)";
}

// One of several outputs kept in one golden, under a heading line.
inline std::string Section(const std::string& name, const std::string& bytes) {
    return "==== " + name + " ====\n" + bytes + "\n";
}

// Every from in text becomes to: values that change from run to run.
inline std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); !from.empty() && at != std::string::npos;
         at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

// A list page's hidden list time is the second it was written.
inline std::string MaskListTime(std::string page) {
    const std::string tail = "\" name=\"list_time\">";
    for (size_t at = page.find(tail); at != std::string::npos; at = page.find(tail, at + 2)) {
        const size_t value = page.rfind("value=\"", at);
        if (value == std::string::npos) break;
        page.replace(value + 7, at - value - 7, "*");
        at = value + 7;
    }
    return page;
}

using Record = std::vector<std::string>;

inline std::vector<Record> ReadCases(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    EXPECT_TRUE(in) << "missing " << file;
    std::vector<Record> records(1);
    for (std::string line; std::getline(in, line);) {
        if (line.empty()) {
            if (!records.back().empty()) records.emplace_back();
        } else if (line[0] != '#') {
            records.back().push_back(Unescape(line));
        }
    }
    if (records.back().empty()) records.pop_back();
    EXPECT_FALSE(records.empty()) << file;
    return records;
}

// A case record read as a script: each field "action argument", run in
// order. A first field "pieces N..." gives the sizes of the pieces the
// record's replies are fed in; the record is then run once per size.
using Actions = std::map<std::string, std::function<void(const std::string&)>>;

inline void Play(const Record& record, const Actions& actions) {
    for (const std::string& field : record) {
        const size_t blank = field.find(' ');
        const std::string name = field.substr(0, blank);
        SCOPED_TRACE(field);
        const auto action = actions.find(name);
        if (name == "pieces") continue;
        if (action == actions.end())
            ADD_FAILURE() << "no action " << name;
        else
            action->second(blank == std::string::npos ? "" : field.substr(blank + 1));
    }
}

inline std::vector<size_t> Pieces(const Record& record, size_t whole) {
    std::vector<size_t> pieces;
    if (!record.empty() && record[0].rfind("pieces ", 0) == 0) {
        std::istringstream in(record[0].substr(7));
        for (size_t p; in >> p;) pieces.push_back(p);
    }
    if (pieces.empty()) pieces.push_back(whole);
    return pieces;
}

// The bytes handed to feed in pieces of the given size until feed gives
// something other than 0; what it gave last.
template <typename Feed> int InPieces(const std::string& bytes, size_t piece, Feed feed) {
    int result = 0;
    for (size_t at = 0; at < bytes.size() && result == 0; at += piece)
        result = feed(bytes.substr(at, piece));
    return result;
}

} // namespace mail_golden

// The golden file name beside the calling test source.
#define MAIL_GOLDEN(name) mail_golden::Beside(__FILE__, name)
#define EXPECT_GOLDEN(actual, name) EXPECT_TRUE(mail_golden::Matches(MAIL_GOLDEN(name), actual))
