// Case tables kept as files beside the tests, written by hand and never
// rewritten. Escapes \\ \t \n \r \xHH keep control and Shift_JIS bytes
// readable, \e is an empty field; lines starting with "#" are comments.
// Two layouts: one record a line, its fields apart by runs of tabs so the
// columns can be lined up, blank lines skipped (SERVER_CASES); or records of
// one field a line, apart by blank lines (CASE_BLOCKS).
#pragma once
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "server_golden.h"

namespace server_cases {

// text into a fixed field of a record, cut to fit.
template <size_t N> void Put(char (&field)[N], const std::string& text) {
    snprintf(field, N, "%s", text.c_str());
}

inline std::string Unescape(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); i++) {
        const char ch = text[i];
        if (ch != '\\' || i + 1 == text.size()) {
            out += ch;
        } else if (const char e = text[++i]; e == 'x') {
            out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else if (e != 'e') {
            out += e == 't' ? '\t' : e == 'n' ? '\n' : e == 'r' ? '\r' : e;
        }
    }
    return out;
}

using Record = std::vector<std::string>;

inline std::vector<Record> Read(const std::filesystem::path& file, bool blocks = false) {
    std::ifstream in(file, std::ios::binary);
    EXPECT_TRUE(in) << "no case file " << file;
    std::vector<Record> records(1);
    for (std::string line; std::getline(in, line);) {
        if (line.empty() && !records.back().empty()) records.emplace_back();
        if (line.empty() || line[0] == '#') continue;
        if (blocks) {
            records.back().push_back(Unescape(line));
            continue;
        }
        for (size_t at = 0; at < line.size();) {
            size_t tab = line.find('\t', at);
            if (tab == std::string::npos) tab = line.size();
            records.back().push_back(Unescape(line.substr(at, tab - at)));
            at = line.find_first_not_of('\t', tab);
            if (at == std::string::npos) break;
        }
        records.emplace_back();
    }
    if (records.back().empty()) records.pop_back();
    EXPECT_FALSE(records.empty()) << file;
    return records;
}

} // namespace server_cases

// The records of the case file beside the calling test's source.
#define SERVER_CASES(name) server_cases::Read(GOLDEN_PATH(name))
#define CASE_BLOCKS(name) server_cases::Read(GOLDEN_PATH(name), true)
