// Arbitrary bytes as a request, fed to two fresh connections: once whole and
// once in chunks whose sizes the first input byte seeds. Besides memory
// safety it checks the bounds of every buffer the reader fills and that both
// feeds leave the same fields behind. Run it with ASAN_OPTIONS=detect_leaks=0:
// freed contexts are kept for reuse and look leaked at exit.
#include "base/server_paths.h"
#include "fuzz.h"
#include "page/form_reading.h"
#include "server/request/request_reader.h"
#include "store/data_file.h"
#include "store/login_throttle.h"

namespace {

void checkBounds(const Connection& c) {
    check(c.lineLength >= 0 && c.lineLength < kLineSize);
    check(c.form.bodyMode <= 7);
    check(c.messageLength >= 0 && c.messageLength <= kMessageTextLimit);
    check(c.messageText[c.messageLength] == '\0');
    check(c.uploadCount >= 0 && c.uploadCount <= kMaxUploads);
    checkText(c.userName);
    checkText(c.password);
    checkText(c.deleteList);
    checkText(c.form.boundary);
    checkText(c.form.partName);
    for (const auto& slot : c.formSlots) checkText(slot);
    for (const auto& name : c.uploadNames) checkText(name);
}

struct Fed : Captured {
    int result = 0;

    ~Fed() {
        if (c->file >= 0) close(c->file);
    }
    // Feeds until the reader reports the request complete.
    void feed(const char* bytes, int n) {
        if (result == 1) return;
        result = FeedBytes(*c, bytes, n);
        check(result == 0 || result == 1);
        checkBounds(*c);
    }
};

bool same(const Connection& a, const Connection& b) {
    return a.route == b.route && a.auth == b.auth && a.browser == b.browser &&
           a.form.bodyMode == b.form.bodyMode && a.bodyRemaining == b.bodyRemaining &&
           a.listTimeField == b.listTimeField && a.uploadCount == b.uploadCount &&
           a.messageLength == b.messageLength &&
           memcmp(a.messageText, b.messageText, static_cast<size_t>(a.messageLength)) == 0 &&
           strcmp(a.deleteList, b.deleteList) == 0 &&
           strcmp(a.form.boundary, b.form.boundary) == 0 && strcmp(a.userName, b.userName) == 0 &&
           strcmp(a.password, b.password) == 0 && strcmp(a.formSlots[0], b.formSlots[0]) == 0 &&
           strcmp(a.formSlots[2], b.formSlots[2]) == 0 &&
           strcmp(a.uploadNames[0], b.uploadNames[0]) == 0;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // No static file folder exists. One user, "fz" with password "pw", lets
    // Basic credentials log in, so uploads are written to a temp folder of
    // its own. No mail worker start is installed, so no exchange begins.
    const std::string& temp = ScratchFolder("tarnbox-fuzz");
    ServerPaths& p = server_paths();
    p.home = "/nonexistent/tarnbox-fuzz";
    p.html = p.home + "/html";
    p.user = p.home + "/user";
    p.temp = temp;
    DataStore& ds = data_store();
    set_default_settings(ds.settings, p.user.c_str());
    auto* u = new UserRecord;
    set_default_options(*u);
    strcpy(u->set[0].id, "fz");
    strcpy(u->set[0].password, "pw");
    append_user(ds.users, u);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > 1 << 18) return 0;
    uint32_t seed = data[0] * 2654435761u + 1;
    const char* bytes = reinterpret_cast<const char*>(data + 1);
    const int n = static_cast<int>(size - 1);

    // Refused credentials are counted across requests; each feed must start
    // from the same count, or the two could differ in who is logged in.
    login_throttle().clear();
    Fed whole;
    whole.feed(bytes, n);
    login_throttle().clear();
    Fed chunked;
    for (int at = 0; at < n;) {
        seed = seed * 1103515245u + 12345u;
        // Mostly small chunks, now and then one past the receive size.
        int len = (seed >> 16) % 8 == 0 ? 1 + static_cast<int>((seed >> 8) % 5000)
                                        : 1 + static_cast<int>((seed >> 16) % 17);
        if (len > n - at) len = n - at;
        chunked.feed(bytes + at, len);
        at += len;
    }
    check(whole.result == chunked.result);
    check(same(*whole.c, *chunked.c));
    return 0;
}
