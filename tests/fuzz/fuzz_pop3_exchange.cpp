// Arbitrary server replies into the POP3 exchange of a list page, whole and
// in chunks the first byte seeds: no overflow, the line stays in its buffer,
// and both feeds send the same commands and write the same page.
// Run it with ASAN_OPTIONS=detect_leaks=0: freed contexts are kept for reuse.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

#include "mail/list/received_list.h"
#include "mail/pop3/pop3_client.h"
#include "mail/pop3/pop3_state.h"
#include "scratch_folder.h"
#include "server/connection.h"
#include "server/server_paths.h"
#include "store/data_file.h"

namespace {

void check(bool ok) {
    if (!ok) abort();
}

UserRecord& Reader() {
    static UserRecord* user = [] {
        static std::string home = MakeScratchFolder("tarnbox-fuzz-pop3");
        // A list page writes no files: the folder is empty again at the end.
        atexit([] { rmdir(home.c_str()); });
        server_paths() = ServerPaths{home, home, home, home};
        DataStore& ds = data_store();
        ds.user_folder = home;
        set_default_settings(ds.settings, home.c_str());
        auto* u = new UserRecord;
        set_default_options(*u);
        strcpy(u->set[0].id, "taro");
        strcpy(u->set[0].password, "pw");
        strcpy(u->set[0].name, "Taro");
        return u;
    }();
    return *user;
}

struct Run {
    Connection* c = NewConnection(-1);
    std::string page, sent;
    int pair[2] = {-1, -1};
    int over = 0;

    Run() {
        // Each run is a first visit: a list kept from the last one would
        // spare TOP commands and make the two feeds differ.
        free_kept_list(&Reader(), 0);
        check(socketpair(AF_UNIX, SOCK_STREAM, 0, pair) == 0);
        fcntl(pair[0], F_SETFL, O_NONBLOCK);
        fcntl(pair[1], F_SETFL, O_NONBLOCK);
        c->captureForTest = &page;
        c->user = &Reader();
        c->route = Route::Mail;
        c->settingsIndex = 0;
        strcpy(c->userName, "taro");
        strcpy(c->loginQuery, "?user=taro?check=5");
        c->mailSocket = pair[0];
        c->state = PageState::ListWait;
        c->workerResult = AwaitGreeting;
    }
    ~Run() {
        close(pair[0]);
        close(pair[1]);
        FreeConnection(c);
    }
    void drain() {
        char b[65536];
        ssize_t n;
        while ((n = read(pair[1], b, sizeof b)) > 0) sent.append(b, static_cast<size_t>(n));
    }
    void feed(const uint8_t* data, size_t n) {
        if (over) return;
        over = pop3_feed(*c, reinterpret_cast<const char*>(data), n) != 0;
        drain();
        check(c->lineLength >= 0 && c->lineLength < kLineSize);
        check(strlen(c->line) < kLineSize);
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0 || size > 16384) return 0;
    Reader().runtime.busy = 0;
    const size_t piece = 1 + data[0] % 13;
    Run whole;
    whole.feed(data + 1, size - 1);
    Run split;
    for (size_t at = 1; at < size; at += piece) split.feed(data + at, std::min(piece, size - at));
    check(whole.sent == split.sent);
    check(whole.c->workerResult == split.c->workerResult);
    return 0;
}
