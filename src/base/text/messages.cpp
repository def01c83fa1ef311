#include "base/text/messages.h"
#include "base/console_text.h"
#include "base/text/messages_table.h"
#include <string>

namespace {

// Both languages in Shift_JIS, built once; the strings never move afterwards,
// so the returned pointers stay valid for the life of the process.
struct ShiftJisTable {
    std::string text[2][kMessageCount];
    ShiftJisTable() {
        for (int i = 0; i < kMessageCount; i++) {
            // Every text of the table is representable in Shift_JIS; a failed
            // conversion would be a broken table, caught by the unit tests.
            if (!utf8_to_sjis(kMessageTable[i].japanese, text[0][i])) text[0][i].clear();
            text[1][i] = kMessageTable[i].english;
        }
    }
};

const ShiftJisTable& table() {
    static const ShiftJisTable t;
    return t;
}

} // namespace

const char* Message(int index, int english) {
    if (index < 0 || index >= kMessageCount) return "";
    return table().text[english ? 1 : 0][index].c_str();
}
