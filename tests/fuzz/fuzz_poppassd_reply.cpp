// Arbitrary server bytes into the password-change conversation, whole and in
// chunks the first byte seeds: no overflow, the refusal text always ends in
// its buffer, and both feeds end in the same step with the same commands.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "mail/poppassd/poppassd_exchange.h"

namespace {

void check(bool ok) {
    if (!ok) abort();
}

void Collect(void* context, const char* bytes, size_t n) {
    static_cast<std::string*>(context)->append(bytes, n);
}

struct Run {
    std::string sent;
    PoppassdExchange x;
    int over = 0;
    Run() {
        x.user = "taro";
        x.oldPassword = "old";
        x.newPassword = "new";
        x.send = Collect;
        x.sendContext = &sent;
    }
    void feed(const uint8_t* data, size_t n) {
        if (!over) over = poppassd_feed(x, reinterpret_cast<const char*>(data), n);
        check(x.lineLength >= 0 && x.lineLength < kPoppassdLineSize);
        check(memchr(x.refusal, '\0', sizeof x.refusal) != nullptr);
        check(x.step <= kPoppassdRefused);
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const size_t piece = 1 + data[0] % 17;
    Run whole, split;
    whole.feed(data + 1, size - 1);
    for (size_t at = 1; at < size; at += piece) split.feed(data + at, std::min(piece, size - at));
    check(whole.sent == split.sent);
    check(whole.x.step == split.x.step);
    check(strcmp(whole.x.refusal, split.x.refusal) == 0);
    return 0;
}
