#include "server/request/https_redirect.h"

#include "page/output/send_status.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

int gPort = 0;
char gFallbackHost[64] = "";

// Host names and address literals only: the value goes into a header line.
bool HostByte(char b) {
    return (b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') || (b >= '0' && b <= '9') || b == '.' ||
           b == '-' || b == ':' || b == '[' || b == ']';
}

} // namespace

void SetHttpsRedirect(int port, const char* fallbackHost) {
    gPort = port;
    snprintf(gFallbackHost, sizeof gFallbackHost, "%s", fallbackHost ? fallbackHost : "");
}

void NoteRequestTarget(Connection& c, const char* target) {
    size_t n = 0;
    // "/path?query HTTP/1.0": up to the blank before the version.
    while (target[n] && target[n] != ' ' && n + 1 < sizeof c.redirectTarget) n++;
    if (target[n] && target[n] != ' ') n = 0; // too long to keep: the top page
    memcpy(c.redirectTarget, target, n);
    c.redirectTarget[n] = '\0';
}

void NoteHost(Connection& c, const char* value) {
    while (*value == ' ' || *value == '\t') value++;
    size_t n = 0;
    while (value[n] && HostByte(value[n]) && n + 1 < sizeof c.redirectHost) n++;
    const bool whole = !value[n] || value[n] == ' ' || value[n] == '\t' || value[n] == '\r';
    // Without its port: the answer names the HTTPS one.
    std::string host(value, whole ? n : 0);
    if (!host.empty() && host[0] == '[') {
        const size_t close = host.find(']');
        host = close == std::string::npos ? std::string() : host.substr(0, close + 1);
    } else if (host.find(':') != std::string::npos) {
        host = host.substr(0, host.find(':'));
    }
    snprintf(c.redirectHost, sizeof c.redirectHost, "%s", host.c_str());
}

bool RedirectToHttps(Connection& c) {
    if (gPort == 0 || c.client.tls) return false;
    const char* host = c.redirectHost[0] ? c.redirectHost : gFallbackHost;
    if (!host[0]) return false;
    const char* target = c.redirectTarget[0] == '/' ? c.redirectTarget : "/";
    char line[sizeof c.redirectHost + sizeof c.redirectTarget + 64];
    const int n = snprintf(line, sizeof line, "Location: https://%s:%d%s\r\n", host, gPort, target);
    SendRaw(c, "HTTP/1.0 301 Moved Permanently\r\n");
    SendSafetyLines(c);
    SendRaw(c, line, static_cast<size_t>(n));
    SendRaw(c, "Connection: close\r\nContent-Length: 0\r\n\r\n");
    c.statusSent = 1;
    return true;
}
