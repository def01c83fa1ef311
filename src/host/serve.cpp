// `tarnbox serve`: the gateway in the foreground until SIGTERM or SIGINT.
#include "host/serve.h"
#include "admin/admin_context.h"
#include "host/control_commands.h"
#include "host/control_socket.h"
#include "host/instance.h"
#include "mail/book/address_book.h"
#include "mail/compose/compose_form.h"
#include "mail/compose/compose_page.h"
#include "mail/date/time_zone.h"
#include "mail/list/received_list.h"
#include "mail/net/mail_tls.h"
#include "mail/pop3/pop3_client.h"
#include "mail/pop3/pop3_login_check.h"
#include "mail/poppassd/poppassd_client.h"
#include "mail/sent/sent_log.h"
#include "mail/sent/sent_pages.h"
#include "mail/smtp/smtp_client.h"
#include "server/listener/listener.h"
#include "server/oauth/oauth_pages.h"
#include "server/remote/remote_page.h"
#include "server/request/forwarded_address.h"
#include "server/route/dispatcher.h"
#include "server/server_paths.h"
#include "store/settings_page.h"
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool take_seconds(const std::vector<std::string>& args, size_t& i, int& out) {
    if (i + 1 >= args.size()) return false;
    char* end = nullptr;
    long v = strtol(args[i + 1].c_str(), &end, 10);
    if (*end || v < 1 || v > 86400) return false;
    out = static_cast<int>(v);
    i++;
    return true;
}

bool take_address(const std::vector<std::string>& args, size_t& i) {
    if (i + 1 >= args.size() || !SetListenAddress(args[i + 1].c_str())) return false;
    i++;
    return true;
}

bool take_proxy(const std::vector<std::string>& args, size_t& i) {
    if (i + 1 >= args.size() || !AddTrustedProxy(args[i + 1].c_str())) return false;
    i++;
    return true;
}

} // namespace

int admin_serve(AdminContext& ctx) {
    int worker = 30, idle = 600, request = 60, ceiling = 1000;
    for (size_t i = 0; i < ctx.args.size(); i++) {
        const std::string& a = ctx.args[i];
        bool ok = a == "--worker-timeout"    ? take_seconds(ctx.args, i, worker)
                  : a == "--idle-timeout"    ? take_seconds(ctx.args, i, idle)
                  : a == "--request-timeout" ? take_seconds(ctx.args, i, request)
                  : a == "--max-connections" ? take_seconds(ctx.args, i, ceiling)
                  : a == "--listen"          ? take_address(ctx.args, i)
                  : a == "--trusted-proxy"   ? take_proxy(ctx.args, i)
                                             : false;
        if (!ok) return admin_fail("serve: 不明なオプションか不正な値です: " + a);
    }
    // Signals are taken by sigwait below; every thread started from here on
    // inherits the mask, so none of them is interrupted by a stop request.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTERM);
    sigaddset(&stop, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);
    signal(SIGPIPE, SIG_IGN);

    int claimed = ClaimInstance(ctx.paths.lock_file);
    if (claimed == 0) return admin_fail("すでに起動されています。");
    if (claimed < 0)
        return admin_fail("ロックファイル " + ctx.paths.lock_file +
                          " を開けません: " + strerror(errno));
    record_time_zone_bias();
    int r = load_data_file(ctx.ds);
    if (r == kLoadAbsent)
        return admin_fail("設定ができません。終了します。\nデータファイル " + ctx.paths.data_file +
                          " がありません。先に tarnbox init を実行してください。");
    if (r != kLoadOk) return 1;
    serviceActive = 1;
    mkdir(ctx.paths.temp_folder.c_str(), 0700);
    mkdir(ctx.paths.user_folder.c_str(), 0700);
    ServerPaths& sp = server_paths();
    sp.home = ctx.paths.home;
    sp.html = ctx.paths.html_folder;
    sp.temp = ctx.paths.temp_folder;
    sp.user = ctx.paths.user_folder;
    workerTimeoutSeconds = worker;
    const bool ownAuthorities = access(ctx.paths.mail_ca_file.c_str(), F_OK) == 0;
    if (!mail_tls_load_authorities(ownAuthorities ? ctx.paths.mail_ca_file.c_str() : nullptr) &&
        ownAuthorities)
        // Servers whose certificates only it vouches for will show "unknown
        // authority"; the administrator learns why here.
        fprintf(stderr, "%s から認証局の証明書を読めません。\n", ctx.paths.mail_ca_file.c_str());
    idleTimeoutSeconds = idle;
    requestTimeoutSeconds = request;
    maxConnections = ceiling;

    int sock = OpenListenSocket(ctx.ds.settings.http_port);
    if (sock < 0)
        return admin_fail(
            "TCP/IP ポート番号が使用されています。\nポート番号を変更してください。 (" +
            std::to_string(ctx.ds.settings.http_port) + ": " + strerror(errno) + ")");
    install_received_list();
    install_pop3_client();
    install_smtp_client();
    install_compose();
    install_sent_pages();
    install_address_book();
    install_settings_pages();
    install_oauth_pages();
    StartPasswordWorker = StartPoppassd;
    StartRegistrationCheck = StartRegistrationPop3Check;
    SharedAddressBook = shared_address_book;
    SentLogAppend = AppendSentLog;
    SentResendForm = [](Connection& c) { WriteForm(c, FormVariant::Resend); };
    StartServer(sock);
    SetControlHome(ctx.paths);
    if (!StartControlSocket(ctx.paths.control_socket, RunControlCommand))
        fprintf(stderr, "制御用ソケット %s を開けません: %s\n", ctx.paths.control_socket.c_str(),
                strerror(errno));
    fprintf(stderr, "Tarnbox 1.51: http://%s:%d/ (home %s)\n", ListenUrlHost(),
            ctx.ds.settings.http_port, ctx.paths.home.c_str());
    int sig = 0;
    sigwait(&stop, &sig);
    StopControlSocket();
    StopServer();
    ReleaseInstance();
    return 0;
}
