// Arbitrary bytes as a saved HTML part of a message. Besides memory safety it
// checks that the page the cleaner writes carries nothing a browser would
// execute, as judged by an audit written apart from the cleaner.
#include "../unit/mail/view/markup_audit.h"
#include "mail/view/html_clean.h"
#include "server/connection.h"
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// Freed connections wait in a pool that is torn down at exit before the leak
// check runs; holding the (reused) block keeps it from counting as a leak.
Connection* gPooled = nullptr;

UserRecord& Taro() {
    static UserRecord* user = [] {
        auto* u = new UserRecord;
        snprintf(u->set[0].id, sizeof u->set[0].id, "taro");
        return u;
    }();
    return *user;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string page;
    Connection* c = NewConnection(-1);
    if (!c) return 0;
    c->captureForTest = &page;
    c->user = &Taro();
    write_clean_html(*c, reinterpret_cast<const char*>(data), size);
    const bool seenInBounds = c->view.cidSeenLength >= 0 && c->view.cidSeenLength < kCidSeenSize;
    FreeConnection(c);
    gPooled = c;
    if (!seenInBounds) abort();
    const std::string finding = markup_audit::Audit(page);
    if (!finding.empty()) {
        fprintf(stderr, "executable markup: %s\npage:\n", finding.c_str());
        fwrite(page.data(), 1, page.size(), stderr);
        fputc('\n', stderr);
        abort();
    }
    return 0;
}
