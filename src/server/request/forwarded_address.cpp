#include "server/request/forwarded_address.h"

#include <arpa/inet.h>
#include <cstring>
#include <netinet/in.h>
#include <strings.h>

namespace {

// Filled before any connection is accepted, read-only afterwards.
sockaddr_storage gProxies[kMaxTrustedProxies];
int gProxyCount = 0;

bool Parse(const char* text, sockaddr_storage& out) {
    memset(&out, 0, sizeof out);
    auto* v4 = reinterpret_cast<sockaddr_in*>(&out);
    if (inet_pton(AF_INET, text, &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        return true;
    }
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&out);
    if (inet_pton(AF_INET6, text, &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        return true;
    }
    return false;
}

// An IPv4 peer of a dual-stack socket arrives as ::ffff:a.b.c.d.
sockaddr_storage Plain(const sockaddr_storage& a) {
    if (a.ss_family != AF_INET6) return a;
    const auto* v6 = reinterpret_cast<const sockaddr_in6*>(&a);
    if (!IN6_IS_ADDR_V4MAPPED(&v6->sin6_addr)) return a;
    sockaddr_storage out{};
    auto* v4 = reinterpret_cast<sockaddr_in*>(&out);
    v4->sin_family = AF_INET;
    memcpy(&v4->sin_addr, v6->sin6_addr.s6_addr + 12, 4);
    return out;
}

bool SameHost(const sockaddr_storage& x, const sockaddr_storage& y) {
    const sockaddr_storage a = Plain(x), b = Plain(y);
    if (a.ss_family != b.ss_family) return false;
    if (a.ss_family == AF_INET)
        return reinterpret_cast<const sockaddr_in&>(a).sin_addr.s_addr ==
               reinterpret_cast<const sockaddr_in&>(b).sin_addr.s_addr;
    if (a.ss_family == AF_INET6)
        return memcmp(&reinterpret_cast<const sockaddr_in6&>(a).sin6_addr,
                      &reinterpret_cast<const sockaddr_in6&>(b).sin6_addr, 16) == 0;
    return false;
}

bool FromTrustedProxy(const sockaddr_storage& peer) {
    for (int i = 0; i < gProxyCount; i++)
        if (SameHost(gProxies[i], peer)) return true;
    return false;
}

} // namespace

bool AddTrustedProxy(const char* address) {
    if (gProxyCount >= kMaxTrustedProxies) return false;
    sockaddr_storage a;
    if (!Parse(address, a)) return false;
    gProxies[gProxyCount++] = a;
    return true;
}

void ClearTrustedProxies() {
    gProxyCount = 0;
}

void ReadForwardedAddress(Connection& c, const char* value) {
    if (!FromTrustedProxy(c.clientAddress)) return;
    char text[INET6_ADDRSTRLEN];
    size_t n = 0;
    while (*value == ' ' || *value == '\t') value++;
    while (value[n] && value[n] != ' ' && value[n] != '\t' && value[n] != '\r' &&
           value[n] != '\n' && n + 1 < sizeof text) {
        text[n] = value[n];
        n++;
    }
    if (value[n] && value[n] != ' ' && value[n] != '\t' && value[n] != '\r' && value[n] != '\n')
        return; // longer than any address
    text[n] = '\0';
    sockaddr_storage client;
    if (Parse(text, client)) {
        c.clientAddress = client;
        c.proxied = 1;
    }
}

void ReadForwardedProto(Connection& c, const char* value) {
    if (!c.proxied && !FromTrustedProxy(c.clientAddress)) return;
    while (*value == ' ' || *value == '\t') value++;
    c.proxiedHttps = strncasecmp(value, "https", 5) == 0 ? 1 : 0;
}
