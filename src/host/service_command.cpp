// `tarnbox service ...`: registers the gateway with systemd, the counterpart
// of the Windows service registration.
#include "admin/admin_context.h"
#include "base/https_context.h"
#include "base/instance.h"
#include "host/serve.h"
#include "host/service_unit.h"
#include "server/listener/listener.h"
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <openssl/ssl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

struct ServiceOptions {
    std::string unit_dir = kSystemUnitDir;
    std::string user;
    std::string https_listen;
};

// Accepts --unit-dir (and --user where allowed) as "--opt V" or "--opt=V".
bool parse_options(const std::vector<std::string>& args, bool with_user, ServiceOptions& o,
                   std::string& bad_r) {
    for (size_t i = 0; i < args.size(); i++) {
        const std::string& a = args[i];
        std::string* into = nullptr;
        std::string value;
        for (auto [name, field] : {std::pair{"--unit-dir", &o.unit_dir},
                                   {"--user", &o.user},
                                   {"--https-listen", &o.https_listen}}) {
            if (field != &o.unit_dir && !with_user) continue;
            std::string n = name;
            if (a == n && i + 1 < args.size()) {
                into = field;
                value = args[++i];
            } else if (a.rfind(n + "=", 0) == 0) {
                into = field;
                value = a.substr(n.size() + 1);
            }
        }
        if (!into || value.empty()) {
            bad_r = a;
            return false;
        }
        *into = value;
    }
    return true;
}

std::string real_path(const std::string& path) {
    char buf[PATH_MAX];
    return realpath(path.c_str(), buf) ? std::string(buf) : std::string();
}

bool is_system_dir(const std::string& dir) {
    std::string real = real_path(dir);
    return (real.empty() ? dir : real) == kSystemUnitDir;
}

// What sd_booted() checks: systemd creates this folder when it is PID 1.
bool systemd_running() {
    struct stat st;
    return lstat("/run/systemd/system", &st) == 0 && S_ISDIR(st.st_mode);
}

bool systemctl_present() {
    const char* path = getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        std::string dir = dirs.substr(start, end - start);
        if (!dir.empty() && access((dir + "/systemctl").c_str(), X_OK) == 0) return true;
        start = end + 1;
    }
    return false;
}

bool systemd_usable() {
    return systemd_running() && systemctl_present();
}

// Runs systemctl with the given words; returns its exit status, or -1.
int systemctl(std::vector<std::string> words) {
    words.insert(words.begin(), "systemctl");
    std::vector<char*> argv;
    for (auto& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    fflush(stdout);
    fflush(stderr);
    pid_t pid;
    if (posix_spawnp(&pid, "systemctl", nullptr, nullptr, argv.data(), environ) != 0) return -1;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int no_systemd(const char* what) {
    return admin_fail(std::string(what) +
                      "\nsystemd が動作していないため、サービスを操作できません。"
                      "tarnbox serve で直接起動してください。");
}

} // namespace

int admin_service_install(AdminContext& ctx) {
    const char* failed = "サービスに登録できませんでした。";
    ServiceOptions o;
    std::string bad;
    if (!parse_options(ctx.args, true, o, bad))
        return admin_fail(std::string(failed) +
                          "\nservice install: 不明なオプションか不正な値です: " + bad);
    // The dispatcher has loaded the data file (refusing when init was not
    // run) and passed the administrator password gate.

    ServiceUnit unit;
    unit.binary = real_path("/proc/self/exe");
    unit.home = real_path(ctx.paths.home);
    unit.user = o.user;
    // A service that would refuse to start is not installed: the files and
    // the address are checked now, while the administrator is at hand.
    if (!o.https_listen.empty()) {
        ListenEndpoint endpoint;
        if (!ParseListenEndpoint(o.https_listen.c_str(), endpoint))
            return admin_fail(std::string(failed) +
                              "\nservice install: 不明なオプションか不正な値です: --https-listen " +
                              o.https_listen);
        HttpsSetup tls = https_load(ctx.paths.https_cert_file, ctx.paths.https_key_file);
        if (!tls.context)
            return admin_fail(std::string(failed) + "\n" + https_refusal(tls, ctx.paths));
        SSL_CTX_free(tls.context);
        unit.https_listen = o.https_listen;
    }
    if (unit.binary.empty() || unit.home.empty())
        return admin_fail(std::string(failed) +
                          "\nプログラムかホームのパスを調べられません: " + strerror(errno));
    // The sent-mail log folder may have been moved out of the home; the
    // read-only file system of the service must still let it be written.
    std::string log_folder(ctx.ds.settings.log_folder,
                           strnlen(ctx.ds.settings.log_folder, sizeof ctx.ds.settings.log_folder));
    std::string log_real = log_folder.empty() ? "" : real_path(log_folder);
    if (!log_real.empty() && log_real != unit.home && log_real.rfind(unit.home + "/", 0) != 0)
        unit.extra_writable.push_back(log_real);

    std::string why;
    std::string text = service_unit_text(unit, why);
    if (text.empty() || !write_unit_file(o.unit_dir, kServiceUnitName, text, why))
        return admin_fail(std::string(failed) + "\n" + why);

    std::string written = o.unit_dir + "/" + kServiceUnitName;
    if (is_system_dir(o.unit_dir) && systemd_usable()) {
        if (systemctl({"daemon-reload"}) != 0 || systemctl({"enable", kServiceUnitName}) != 0)
            return admin_fail(std::string(failed) + "\n" + written +
                              " は書き込みましたが、systemctl enable に失敗しました。");
        printf("サービスに登録しました。\n%s\ntarnbox service start で開始します。\n",
               written.c_str());
    } else {
        printf("サービスに登録しました。\n%s\n", written.c_str());
        if (is_system_dir(o.unit_dir))
            printf("systemd が動作していないため、有効にはしていません。\n");
    }
    return 0;
}

int admin_service_remove(AdminContext& ctx) {
    const char* failed = "サービスから削除できませんでした。";
    ServiceOptions o;
    std::string bad;
    if (!parse_options(ctx.args, false, o, bad))
        return admin_fail(std::string(failed) +
                          "\nservice remove: 不明なオプションか不正な値です: " + bad);
    std::string path = o.unit_dir + "/" + kServiceUnitName;
    struct stat st;
    if (lstat(path.c_str(), &st) != 0)
        return admin_fail(std::string(failed) + "\n" + path + " がありません。");
    bool systemd = is_system_dir(o.unit_dir) && systemd_usable();
    // --now stops a running service first, as deleting it would leave it
    // running unmanaged.
    if (systemd && systemctl({"disable", "--now", kServiceUnitName}) != 0)
        return admin_fail(std::string(failed) + "\nsystemctl disable に失敗しました。");
    if (unlink(path.c_str()) != 0)
        return admin_fail(std::string(failed) + "\n" + path + ": " + strerror(errno));
    if (systemd) systemctl({"daemon-reload"});
    printf("サービスから削除しました。\n");
    return 0;
}

int admin_service_start(AdminContext& ctx) {
    const char* failed = "サービスを開始できませんでした。";
    if (!ctx.args.empty()) return admin_fail("service start: 引数は要りません。");
    if (!systemd_usable()) return no_systemd(failed);
    // A gateway already serving this home (by hand or as the service) would
    // make the service's own start fail on the instance lock. Only an
    // existing lock file is probed, so no root-owned one is left behind.
    if (access(ctx.paths.lock_file.c_str(), F_OK) == 0) {
        int claimed = ClaimInstance(ctx.paths.lock_file);
        ReleaseInstance();
        if (claimed == 0) return admin_fail("すでに起動されています。");
    }
    if (systemctl({"start", kServiceUnitName}) != 0) return admin_fail(failed);
    printf("サービスを開始しました。\n");
    return 0;
}

int admin_service_status(AdminContext& ctx) {
    if (!ctx.args.empty()) return admin_fail("service status: 引数は要りません。");
    if (!systemd_usable()) return no_systemd("サービスの状態を調べられません。");
    // systemctl's own status (3 for a stopped service) tells scripts the state.
    int r = systemctl({"status", "--no-pager", kServiceUnitName});
    return r < 0 ? admin_fail("サービスを停止できません。\n権限のある ID でログインしてください。")
                 : r;
}
