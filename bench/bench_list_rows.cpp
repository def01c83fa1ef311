// Speed of writing the rows of a kept list of 10,000 messages (the second
// visit's page, which needs no TOP), against moving the same page bytes
// through the output filter in one raw call: the ratio is what the row
// logic (subject cleaning, date formatting, escaping, the row's markup)
// costs beyond the bytes themselves. Best of several repetitions each, run
// alternately so load from other processes falls on both alike.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "mail/list/list_state.h"
#include "mail/list/received_list.h"
#include "mail/mime/mime_state.h"
#include "page/connection.h"
#include "page/output/output_text.h"
#include "store/data_file.h"

namespace {

constexpr int kRows = 10000;
constexpr int kRepetitions = 9;

using Clock = std::chrono::steady_clock;

double ms_since(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

template <size_t N> void put(char (&dst)[N], const std::string& s) {
    snprintf(dst, N, "%s", s.c_str());
}

// A mix of English and Japanese mail, subjects and senders as the list keeps
// them: Shift_JIS, or ISO-2022-JP straight from the header.
void fill(KeptEntry& e, int i) {
    static const char* const kSubjects[] = {
        "Lunch on Friday?",
        "\x94\x4e\x96\x96\x82\xcc\x91\xe5\x91\x7c\x8f\x9c\x82\xcc\x82\xa8"
        "\x92\x6d\x82\xe7\x82\xb9",
        "Re: quarterly figures & <draft>", "\x1b$B2q5D<<$NJQ99$K$D$$$F\x1b(B",
        "Gr\xfc\xdf\x65 aus M\xfcnchen &#127876;"};
    static const char* const kFrom[] = {"Kenji Kato <kenji.kato@example.com>",
                                        "\x91\x8d\x96\xb1\x95\x94 \x97\xe9\x96\xd8 "
                                        "<suzuki@example.org>",
                                        "news@example.net"};
    put(e.subject, kSubjects[i % 5]);
    put(e.from, kFrom[i % 3]);
    put(e.date, "Wed, 11 Dec 2024 10:00:00 +0900");
    e.size = 500 + i % 9000;
    e.contentClass = i % 4 == 0 ? kClassMultipart : kClassText;
    e.read = i % 7 == 0;
}

} // namespace

int main() {
    UserRecord user{};
    snprintf(user.set[0].id, sizeof user.set[0].id, "taro");
    snprintf(user.set[0].mail_address, sizeof user.set[0].mail_address, "taro@example.jp");
    std::vector<KeptEntry> entries(kRows);
    for (int i = 0; i < kRows; i++) {
        fill(entries[i], i);
        entries[i].next = i + 1 < kRows ? &entries[i + 1] : nullptr;
    }
    user.runtime.keptList[0] = entries.data();

    std::string page;
    Connection* c = NewConnection(-1);
    c->captureForTest = &page;
    c->user = &user;
    snprintf(c->userName, sizeof c->userName, "taro");
    snprintf(c->loginQuery, sizeof c->loginQuery, "?user=taro?check=1733900000");

    double rows = 1e9, bytes = 1e9;
    std::string copy;
    for (int r = 0; r < kRepetitions; r++) {
        page.clear();
        Clock::time_point t = Clock::now();
        list_kept_rows(*c);
        rows = std::min(rows, ms_since(t));
        if (copy.empty()) {
            copy = page;
            // The filter's raw mode leaves escapes alone; only the NULs a
            // page never holds would stop it.
            copy.erase(std::remove(copy.begin(), copy.end(), '\0'), copy.end());
        }
        page.clear();
        t = Clock::now();
        OutputText(*c, copy.c_str(), 0);
        bytes = std::min(bytes, ms_since(t));
    }
    printf("list rows of %d kept messages (%zu bytes of page)\n", kRows, copy.size());
    printf("  rows written        %8.2f ms   (%.0f ns a row)\n", rows, rows * 1e6 / kRows);
    printf("  same bytes, raw     %8.2f ms\n", bytes);
    printf("  ratio               %8.2fx\n", rows / bytes);
    user.runtime.keptList[0] = nullptr;
    FreeConnection(c);
    return 0;
}
