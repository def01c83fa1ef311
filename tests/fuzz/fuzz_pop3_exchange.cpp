// Arbitrary server replies into the POP3 exchange of a list page, whole and
// in chunks the first byte seeds: no overflow, the line stays in its buffer,
// and both feeds send the same commands and write the same page.
// Run it with ASAN_OPTIONS=detect_leaks=0: freed contexts are kept for reuse.
#include "base/server_paths.h"
#include "fuzz.h"
#include "mail/list/received_list.h"
#include "mail/net/mail_link.h"
#include "mail/pop3/pop3_client.h"
#include "mail/pop3/pop3_state.h"
#include "store/data_file.h"

namespace {

struct Run : SocketPair, Captured {
    int over = 0;

    Run() {
        // Each run is a first visit: a list kept from the last one would
        // spare TOP commands and make the two feeds differ.
        free_kept_list(&Taro(), 0);
        c->user = &Taro();
        c->route = Route::Mail;
        c->settingsIndex = 0;
        strcpy(c->userName, "taro");
        strcpy(c->loginQuery, "?user=taro?check=5");
        c->mail.socket = end[0];
        c->state = PageState::ListWait;
        c->workerResult = AwaitGreeting;
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

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const std::string& home = ScratchFolder("tarnbox-fuzz-pop3");
    server_paths() = ServerPaths{home, home, home, home};
    DataStore& ds = data_store();
    ds.user_folder = home;
    set_default_settings(ds.settings, home.c_str());
    set_default_options(Taro());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0 || size > 16384) return 0;
    Taro().runtime.busy = 0;
    FeedWholeAndSplit<Run>(data, size, 13, [](const Run& whole, const Run& split) {
        check(whole.sent == split.sent);
        check(whole.c->workerResult == split.c->workerResult);
    });
    return 0;
}
