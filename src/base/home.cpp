#include "base/home.h"
#include <climits>
#include <unistd.h>

std::string program_folder() {
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return ".";
    std::string path(buf, static_cast<size_t>(n));
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
}

HomePaths make_home_paths(const std::string& home) {
    // Absolute, so stored paths (the log folder) stay right whatever the
    // current folder of a later run.
    std::string h = home;
    if (h.empty() || h[0] != '/') {
        char cwd[PATH_MAX];
        if (getcwd(cwd, sizeof cwd)) h = std::string(cwd) + "/" + h;
    }
    while (h.size() > 1 && h.back() == '/') h.pop_back();
    HomePaths p;
    p.home = h;
    p.data_file = h + "/tarnbox.dat";
    p.user_folder = h + "/user";
    p.temp_folder = h + "/temp";
    p.html_folder = h + "/html";
    p.lock_file = h + "/tarnbox.lock";
    p.control_socket = h + "/tarnbox.sock";
    p.mail_ca_file = h + "/mail-ca.pem";
    p.https_cert_file = h + "/https-cert.pem";
    p.https_key_file = h + "/https-key.pem";
    return p;
}
