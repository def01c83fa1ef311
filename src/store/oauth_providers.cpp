#include "store/oauth_providers.h"
#include "base/atomic_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string trim(const std::string& s) {
    const size_t a = s.find_first_not_of(" \t\r");
    if (a == std::string::npos) return {};
    const size_t b = s.find_last_not_of(" \t\r");
    return s.substr(a, b - a + 1);
}

struct Field {
    const char* key;
    std::string OAuthProvider::*member;
};
constexpr Field kFields[] = {
    {"client_id", &OAuthProvider::clientId},       {"auth_url", &OAuthProvider::authUrl},
    {"token_url", &OAuthProvider::tokenUrl},       {"scope", &OAuthProvider::scope},
    {"redirect_url", &OAuthProvider::redirectUrl}, {"auth_params", &OAuthProvider::authParams},
};

std::string providers_path(const std::string& home) {
    return home + "/oauth-providers";
}

bool write_whole(const std::string& path, const std::string& text, mode_t mode, std::string& why) {
    if (write_file_atomically(path, text, mode)) return true;
    why = path + ": " + strerror(errno);
    return false;
}

} // namespace

bool oauth_preset(const std::string& preset, OAuthProvider& p) {
    if (preset == "google") {
        p.authUrl = "https://accounts.google.com/o/oauth2/v2/auth";
        p.tokenUrl = "https://oauth2.googleapis.com/token";
        p.scope = "https://mail.google.com/";
        // Without these Google hands out a refresh token only on the very
        // first consent.
        p.authParams = "access_type=offline&prompt=consent";
        return true;
    }
    if (preset == "microsoft") {
        p.authUrl = "https://login.microsoftonline.com/common/oauth2/v2.0/authorize";
        p.tokenUrl = "https://login.microsoftonline.com/common/oauth2/v2.0/token";
        p.scope = "https://outlook.office.com/POP.AccessAsUser.All "
                  "https://outlook.office.com/SMTP.Send offline_access";
        p.authParams.clear();
        return true;
    }
    return false;
}

bool oauth_provider_name_valid(const std::string& name) {
    if (name.empty() || name.size() > 40 || name[0] == '.') return false;
    for (unsigned char c : name)
        if (!isalnum(c) && c != '-' && c != '_' && c != '.') return false;
    return true;
}

std::vector<OAuthProvider> parse_oauth_providers(const std::string& text) {
    std::vector<OAuthProvider> out;
    std::istringstream in(text);
    std::string line;
    OAuthProvider* current = nullptr;
    while (std::getline(in, line)) {
        line = trim(line);
        if (line.empty() || line[0] == '#') continue;
        if (line.front() == '[' && line.back() == ']') {
            const std::string name = trim(line.substr(1, line.size() - 2));
            current = nullptr;
            if (!oauth_provider_name_valid(name)) continue;
            bool seen = false;
            for (const OAuthProvider& p : out) seen = seen || p.name == name;
            if (seen) continue;
            out.push_back(OAuthProvider{});
            current = &out.back();
            current->name = name;
            continue;
        }
        const size_t eq = line.find('=');
        if (!current || eq == std::string::npos) continue;
        const std::string key = trim(line.substr(0, eq)), value = trim(line.substr(eq + 1));
        for (const Field& f : kFields)
            if (key == f.key) (*current).*f.member = value;
    }
    return out;
}

std::string format_oauth_providers(const std::vector<OAuthProvider>& providers) {
    std::string text;
    for (const OAuthProvider& p : providers) {
        text += "[" + p.name + "]\n";
        for (const Field& f : kFields)
            if (!(p.*f.member).empty()) text += std::string(f.key) + " = " + p.*f.member + "\n";
        text += "\n";
    }
    return text;
}

std::vector<OAuthProvider> load_oauth_providers(const std::string& home) {
    std::ifstream f(providers_path(home));
    if (!f) return {};
    std::stringstream text;
    text << f.rdbuf();
    return parse_oauth_providers(text.str());
}

bool save_oauth_providers(const std::string& home, const std::vector<OAuthProvider>& providers,
                          std::string& why) {
    return write_whole(providers_path(home), format_oauth_providers(providers), 0644, why);
}

std::optional<OAuthProvider> find_oauth_provider(const std::string& home, const std::string& name) {
    for (OAuthProvider& p : load_oauth_providers(home))
        if (p.name == name) return p;
    return std::nullopt;
}

std::string oauth_secret_path(const std::string& home, const std::string& name) {
    return home + "/oauth-secret-" + name;
}

std::string load_oauth_secret(const std::string& home, const std::string& name) {
    std::ifstream f(oauth_secret_path(home, name));
    std::string secret;
    if (!f || !std::getline(f, secret)) return {};
    return trim(secret);
}

bool save_oauth_secret(const std::string& home, const std::string& name, const std::string& secret,
                       std::string& why) {
    const std::string path = oauth_secret_path(home, name);
    if (secret.empty()) {
        if (unlink(path.c_str()) != 0 && errno != ENOENT) {
            why = path + ": " + strerror(errno);
            return false;
        }
        return true;
    }
    return write_whole(path, secret + "\n", 0600, why);
}
