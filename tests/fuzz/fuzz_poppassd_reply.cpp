// Arbitrary server bytes into the password-change conversation, whole and in
// chunks the first byte seeds: no overflow, the refusal text always ends in
// its buffer, and both feeds end in the same step with the same commands.
#include "fuzz.h"
#include "mail/compose/outgoing.h"
#include "mail/poppassd/poppassd_exchange.h"

namespace {

struct Run {
    std::string sent;
    PoppassdExchange x;
    int over = 0;
    Run() {
        x.user = "taro";
        x.oldPassword = "old";
        x.newPassword = "new";
        x.send = [](void* to, const char* bytes, size_t n) {
            static_cast<std::string*>(to)->append(bytes, n);
        };
        x.sendContext = &sent;
    }
    void feed(const uint8_t* data, size_t n) {
        if (!over) over = poppassd_feed(x, reinterpret_cast<const char*>(data), n);
        check(x.lineLength >= 0 && x.lineLength < kPoppassdLineSize);
        checkText(x.refusal);
        check(x.step <= kPoppassdRefused);
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    FeedWholeAndSplit<Run>(data, size, 17, [](const Run& whole, const Run& split) {
        check(whole.sent == split.sent);
        check(whole.x.step == split.x.step);
        check(strcmp(whole.x.refusal, split.x.refusal) == 0);
    });
    return 0;
}
