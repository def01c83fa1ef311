#include "host/control_commands.h"

#include "admin/admin_output.h"
#include "base/global_lock.h"
#include "host/subcommands.h"
#include "mail/book/address_book.h"
#include "server/listener/listener.h"
#include "store/data_file.h"

#include <csignal>
#include <cstring>
#include <mutex>
#include <unistd.h>

namespace {

HomePaths gHome;

// A changed HTTP port takes effect at once: the new port is opened first,
// and only when that works does the old one close. Otherwise the old
// settings come back and nothing is stored.
int MoveListener(const BasicSettings& before) {
    DataStore& ds = data_store();
    const int port = ds.settings.http_port;
    if (port == before.http_port) return 0;
    const int sock = OpenListenSocket(port);
    if (sock < 0) {
        {
            std::lock_guard<std::recursive_mutex> hold(globalLock);
            ds.settings = before;
            save_basic_settings(ds);
        }
        admin_err("TCP/IP ポート番号が使用されています。\nポート番号を変更してください。");
        return 1;
    }
    RestartListener(sock);
    return 0;
}

} // namespace

void SetControlHome(const HomePaths& paths) {
    gHome = paths;
}

ControlReply RunControlCommand(const std::vector<std::string>& words,
                               std::deque<std::string> input) {
    ControlReply reply;
    size_t first = 0;
    const Subcommand* c = find_subcommand(words, 0, first);
    if (!c || !subcommand_forwarded(*c)) {
        reply.err = "不明なコマンドです\n";
        return reply;
    }
    AdminCapture capture(std::move(input), true);
    AdminContext ctx{gHome, data_store(),
                     std::vector<std::string>(words.begin() + first, words.end()), ""};
    BasicSettings before;
    if (subcommand_locks_itself(*c)) {
        before = ctx.ds.settings;
        reply.status = c->run(ctx);
    } else {
        // The command changes the live store as a page would: all of it
        // under the one lock.
        std::lock_guard<std::recursive_mutex> hold(globalLock);
        before = ctx.ds.settings;
        reply.status = c->run(ctx);
    }
    // Outside the lock: the listener thread being replaced may be waiting
    // for it.
    if (reply.status == 0 && !strcmp(c->name, "settings")) reply.status = MoveListener(before);
    if (!strcmp(c->name, "shared-book")) LoadSharedBook();
    reply.out = capture.out;
    reply.err = capture.err;
    return reply;
}

int admin_stop(AdminContext& ctx) {
    (void)ctx;
    if (!admin_in_server()) return admin_fail("このホームではゲートウェイが動作していません。");
    admin_out("ゲートウェイを停止します。");
    // serve waits for this signal; it stops the listener and the workers.
    kill(getpid(), SIGTERM);
    return 0;
}
