// `tarnbox serve`: the gateway in the foreground until SIGTERM or SIGINT.
#include "host/serve.h"
#include "admin/admin_context.h"
#include "base/date/time_zone.h"
#include "base/https_context.h"
#include "base/instance.h"
#include "base/server_paths.h"
#include "host/control_commands.h"
#include "host/control_socket.h"
#include "mail/book/address_book.h"
#include "mail/list/received_list.h"
#include "mail/net/mail_connect.h"
#include "mail/net/mail_tls.h"
#include "server/listener/listener.h"
#include "server/remote/remote_page.h"
#include "server/request/forwarded_address.h"
#include "server/request/https_redirect.h"
#include "server/route/dispatcher.h"
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

bool take_endpoint(const std::vector<std::string>& args, size_t& i, ListenEndpoint& out,
                   bool& given) {
    if (i + 1 >= args.size() || !ParseListenEndpoint(args[i + 1].c_str(), out)) return false;
    given = true;
    i++;
    return true;
}

} // namespace

// Both languages: the administrator who turns HTTPS on is not always the
// one who reads Japanese.
std::string https_refusal(const HttpsSetup& setup, const HomePaths& paths) {
    const std::string& cert = paths.https_cert_file;
    const std::string& key = paths.https_key_file;
    const std::string& why = setup.detail;
    const std::string hint = "\n試すだけなら tarnbox https self-signed --name ホスト名 で作れます。"
                             "\n(For a first try, tarnbox https self-signed --name HOST makes a "
                             "pair.)";
    switch (setup.problem) {
    case HttpsProblem::CertificateMissing:
        return "HTTPS の証明書ファイル " + cert + " がありません。\nThe HTTPS certificate file " +
               cert + " does not exist." + hint;
    case HttpsProblem::CertificateUnreadable:
        return "HTTPS の証明書ファイル " + cert + " を読めません: " + why +
               "\nCannot read the HTTPS certificate file " + cert + ": " + why;
    case HttpsProblem::CertificateNotPem:
        return "HTTPS の証明書ファイル " + cert + " に PEM 形式の証明書がありません (" + why +
               ")。\nThe HTTPS certificate file " + cert + " holds no usable PEM certificate (" +
               why + ").";
    case HttpsProblem::KeyMissing:
        return "HTTPS の秘密鍵ファイル " + key + " がありません。\nThe HTTPS key file " + key +
               " does not exist." + hint;
    case HttpsProblem::KeyUnreadable:
        return "HTTPS の秘密鍵ファイル " + key + " を読めません: " + why +
               "\nCannot read the HTTPS key file " + key + ": " + why;
    case HttpsProblem::KeyNotPem:
        return "HTTPS の秘密鍵ファイル " + key +
               " に PEM 形式の秘密鍵がありません (パスフレーズ付きの鍵は使えません) (" + why +
               ")。\nThe HTTPS key file " + key +
               " holds no usable PEM private key (a key with a passphrase cannot be used) (" + why +
               ").";
    case HttpsProblem::KeyMismatch:
        return "HTTPS の秘密鍵 " + key + " は証明書 " + cert + " と対になっていません。" +
               "\nThe HTTPS key " + key + " does not belong to the certificate " + cert + ".";
    default:
        return "HTTPS を準備できません (" + why + ")。\nCannot set up HTTPS (" + why + ").";
    }
}

int admin_serve(AdminContext& ctx) {
    int worker = 30, idle = 600, request = 60, ceiling = 1000;
    ListenEndpoint https;
    bool httpsWanted = false;
    bool redirect = false;
    for (size_t i = 0; i < ctx.args.size(); i++) {
        const std::string& a = ctx.args[i];
        bool ok = a == "--worker-timeout"    ? take_seconds(ctx.args, i, worker)
                  : a == "--idle-timeout"    ? take_seconds(ctx.args, i, idle)
                  : a == "--request-timeout" ? take_seconds(ctx.args, i, request)
                  : a == "--max-connections" ? take_seconds(ctx.args, i, ceiling)
                  : a == "--listen"          ? take_address(ctx.args, i)
                  : a == "--trusted-proxy"   ? take_proxy(ctx.args, i)
                  : a == "--https-listen"    ? take_endpoint(ctx.args, i, https, httpsWanted)
                  : a == "--https-redirect"  ? (redirect = true)
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

    if (redirect && !httpsWanted)
        return admin_fail("serve: --https-redirect には --https-listen が必要です。\n"
                          "serve: --https-redirect needs --https-listen.");
    // A request that names no host goes to the HTTPS address itself, when
    // that is one address and not every local one.
    if (redirect) SetHttpsRedirect(https.port, https.length ? https.urlHost : "");
    // HTTPS was asked for: without its files the gateway does not start at
    // all, rather than quietly serving passwords in clear text only.
    HttpsSetup tls;
    if (httpsWanted) {
        tls = https_load(ctx.paths.https_cert_file, ctx.paths.https_key_file);
        if (!tls.context) return admin_fail(https_refusal(tls, ctx.paths));
    }
    int sock = OpenListenSocket(ctx.ds.settings.http_port);
    if (sock < 0)
        return admin_fail(
            "TCP/IP ポート番号が使用されています。\nポート番号を変更してください。 (" +
            std::to_string(ctx.ds.settings.http_port) + ": " + strerror(errno) + ")");
    int httpsSock = -1;
    if (httpsWanted) {
        httpsSock = OpenEndpointSocket(https);
        if (httpsSock < 0) {
            const std::string why = std::to_string(https.port) + ": " + strerror(errno);
            return admin_fail("HTTPS の TCP/IP ポート番号が使用されています。\n"
                              "ポート番号を変更してください。 (" +
                              why + ")\nThe HTTPS port is in use; choose another one. (" + why +
                              ")");
        }
    }
    LoadSharedBook();
    StartServer(sock);
    if (httpsSock >= 0) StartHttpsListener(httpsSock, tls.context);
    SetControlHome(ctx.paths);
    if (!StartControlSocket(ctx.paths.control_socket, RunControlCommand))
        fprintf(stderr, "制御用ソケット %s を開けません: %s\n", ctx.paths.control_socket.c_str(),
                strerror(errno));
    fprintf(stderr, "Tarnbox 1.51: http://%s:%d/ (home %s)\n", ListenUrlHost(),
            ctx.ds.settings.http_port, ctx.paths.home.c_str());
    if (httpsSock >= 0)
        fprintf(stderr, "Tarnbox 1.51: https://%s:%d/\n", https.urlHost, https.port);
    int sig = 0;
    sigwait(&stop, &sig);
    StopControlSocket();
    StopServer();
    ReleaseInstance();
    return 0;
}
