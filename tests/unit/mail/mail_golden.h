// What the mail tests share around their goldens and case blocks: sections
// of one golden, masked values, and case records played as scripts.
#pragma once
#include "server/server_cases.h"
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace mail_golden {

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

// s n times over.
inline std::string Repeated(const std::string& s, int n) {
    std::string r;
    for (int i = 0; i < n; ++i) r += s;
    return r;
}

// The parts of text between the separators at.
inline std::vector<std::string> Split(const std::string& text, char at) {
    std::vector<std::string> parts;
    std::istringstream in(text);
    for (std::string part; std::getline(in, part, at);) parts.push_back(part);
    return parts;
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

using server_cases::Put;

using server_cases::Record;

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

// The argument an action of a case script is handed, as its lambdas name it.
using S = const std::string&;
