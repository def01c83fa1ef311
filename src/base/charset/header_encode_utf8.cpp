#include "base/charset/base64.h"
#include "base/charset/header_encode.h"
#include "base/charset/sjis.h"
#include "base/charset/utf8_text.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

constexpr size_t kFoldColumn = 76;
// 45 bytes encode to 60 characters: with "=?UTF-8?B?" and "?=" 72 in all.
constexpr size_t kWordBytes = 45;

struct Piece {
    std::string text;
    bool separator;
};

bool needs_encoding(const std::string& word) {
    for (unsigned char b : word)
        if (b >= 0x80) return true;
    return has_character_references(word.data(), word.size());
}

// Words and the blanks and commas between them; a two-byte character is
// never split, whatever its trail byte.
std::vector<Piece> split(const char* value, size_t n) {
    std::vector<Piece> pieces;
    for (size_t i = 0; i < n;) {
        if (value[i] == ' ' || value[i] == ',' || value[i] == '\t') {
            pieces.push_back({std::string(1, value[i] == '\t' ? ' ' : value[i]), true});
            i++;
            continue;
        }
        size_t j = i;
        while (j < n && value[j] != ' ' && value[j] != ',' && value[j] != '\t')
            j += is_sjis_lead(static_cast<unsigned char>(value[j])) && j + 1 < n ? 2 : 1;
        pieces.push_back({std::string(value + i, j - i), false});
        i = j;
    }
    return pieces;
}

// The UTF-8 text as encoded words, cut only between characters; the first
// word takes at most first bytes, so that it fits the line it starts on.
std::vector<std::string> encoded_words(const std::string& utf8, size_t first) {
    std::vector<std::string> words;
    for (size_t at = 0; at < utf8.size();) {
        const size_t budget = words.empty() ? first : kWordBytes;
        size_t end = at + budget < utf8.size() ? at + budget : utf8.size();
        while (end > at + 1 && end < utf8.size() &&
               (static_cast<unsigned char>(utf8[end]) & 0xC0) == 0x80)
            end--;
        char b64[base64_encoded_size(kWordBytes) + 1];
        const int k = base64_encode(b64, utf8.data() + at, static_cast<int>(end - at));
        words.push_back("=?UTF-8?B?" + std::string(b64, static_cast<size_t>(k)) + "?=");
        at = end;
    }
    return words;
}

struct Folder {
    std::string out;
    size_t column = 0;
    size_t start = 0; // column where the value began

    void word(const std::string& w) {
        if (column > start && column + w.size() > kFoldColumn) {
            if (!out.empty() && out.back() == ' ') out.pop_back();
            out += "\r\n ";
            column = 1;
        }
        out += w;
        column += w.size();
    }
    void separator(const std::string& s) {
        out += s;
        column += s.size();
    }
};

} // namespace

std::string encode_header_words_utf8(const char* line) {
    size_t n = strlen(line);
    while (n > 0 && (line[n - 1] == '\r' || line[n - 1] == '\n')) n--;
    const char* colon = static_cast<const char*>(memchr(line, ':', n));
    size_t name = colon ? static_cast<size_t>(colon - line) + 1 : 0;
    while (name < n && line[name] == ' ') name++;
    Folder f;
    f.separator(std::string(line, name));
    f.start = f.column;
    const std::vector<Piece> pieces = split(line + name, n - name);
    for (size_t i = 0; i < pieces.size(); i++) {
        const Piece& p = pieces[i];
        if (p.separator) {
            f.separator(p.text);
            continue;
        }
        if (!needs_encoding(p.text)) {
            f.word(p.text);
            continue;
        }
        // Neighbouring words to encode join one run, blanks included: blanks
        // between encoded words vanish when they are read.
        std::string run = p.text;
        size_t j = i + 1;
        while (j + 1 < pieces.size() && pieces[j].separator && pieces[j].text == " " &&
               !pieces[j + 1].separator && needs_encoding(pieces[j + 1].text)) {
            run += " " + pieces[j + 1].text;
            j += 2;
        }
        i = j - 1;
        // Room left on this line after "=?UTF-8?B?" and "?=", in whole groups.
        const size_t used = f.column + (f.column > f.start ? 1 : 0) + 12;
        const size_t room = used < kFoldColumn ? (kFoldColumn - used) / 4 * 3 : 0;
        const size_t firstBytes = room >= 6 ? std::min(room, kWordBytes) : kWordBytes;
        bool first = true;
        for (const std::string& w :
             encoded_words(sjis_to_utf8(run.data(), run.size()), firstBytes)) {
            if (!first) f.separator(" ");
            f.word(w);
            first = false;
        }
    }
    f.out += "\r\n";
    return f.out;
}
