#include "host/service_unit.h"
#include "base/atomic_file.h"
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool plain_byte(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           strchr("/._-+:@,=%$", c) || c >= 0x80;
}

bool has_control(std::string_view s) {
    for (unsigned char c : s)
        if (c < 0x20 || c == 0x7f) return true;
    return false;
}

} // namespace

std::string systemd_word(std::string_view word, bool expands_env) {
    bool quote = word.empty();
    std::string body;
    for (unsigned char c : word) {
        if (!plain_byte(c)) quote = true;
        if (c == '%') body += '%';
        if (c == '$' && expands_env) body += '$';
        if (c == '"' || c == '\\') body += '\\';
        body += static_cast<char>(c);
    }
    return quote ? "\"" + body + "\"" : body;
}

bool home_protection_applies(std::string_view home) {
    for (std::string_view top : {"/home", "/root"})
        if (home.substr(0, top.size()) == top &&
            (home.size() == top.size() || home[top.size()] == '/'))
            return false;
    return true;
}

bool valid_unit_user(std::string_view name) {
    if (name.empty() || name.size() > 32 || name[0] == '-') return false;
    for (unsigned char c : name)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              c == '_' || c == '-' || c == '.'))
            return false;
    return true;
}

std::string service_unit_text(const ServiceUnit& unit, std::string& why_r) {
    std::vector<std::string> paths = {unit.binary, unit.home};
    paths.insert(paths.end(), unit.extra_writable.begin(), unit.extra_writable.end());
    for (const std::string& p : paths) {
        if (p.empty() || p[0] != '/') {
            why_r = "絶対パスではありません: " + p;
            return "";
        }
        if (has_control(p)) {
            why_r = "制御文字を含むパスはサービスに登録できません: " + p;
            return "";
        }
    }
    if (!unit.user.empty() && !valid_unit_user(unit.user)) {
        why_r = "ユーザー名が不正です: " + unit.user;
        return "";
    }
    // systemd runs the program file named by the first word as it is, with no
    // variable expansion, so only the arguments get "$" doubled.
    std::string exec =
        systemd_word(unit.binary, false) + " --home " + systemd_word(unit.home, true) + " serve";
    if (!unit.https_listen.empty())
        exec += " --https-listen " + systemd_word(unit.https_listen, true);
    std::string writable = systemd_word(unit.home, false);
    for (const std::string& p : unit.extra_writable) {
        std::string optional = "-"; // a folder that may be missing
        optional += p;
        writable += ' ';
        writable += systemd_word(optional, false);
    }

    std::string t;
    t += "[Unit]\n";
    t += "Description=Halvane Web mail (multi)\n";
    t += "After=network-online.target\n";
    t += "Wants=network-online.target\n";
    t += "\n[Service]\n";
    t += "Type=simple\n";
    t += "ExecStart=" + exec + "\n";
    if (!unit.user.empty()) t += "User=" + unit.user + "\n";
    t += "Restart=on-failure\n";
    t += "KillSignal=SIGTERM\n";
    t += "NoNewPrivileges=yes\n";
    t += "PrivateTmp=yes\n";
    t += "ProtectSystem=strict\n";
    if (home_protection_applies(unit.home)) t += "ProtectHome=read-only\n";
    t += "ReadWritePaths=" + writable + "\n";
    t += "\n[Install]\n";
    t += "WantedBy=multi-user.target\n";
    return t;
}

bool write_unit_file(const std::string& dir, const std::string& name, const std::string& text,
                     std::string& why_r) {
    const std::string target = dir + "/" + name;
    if (write_file_atomically(target, text, 0644)) return true;
    why_r = target + " に書き込めません: " + strerror(errno);
    return false;
}
