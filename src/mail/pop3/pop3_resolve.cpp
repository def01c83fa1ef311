#include "mail/pop3/pop3_client.h"
#include <arpa/inet.h>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <strings.h>

bool pop3_name_valid(const char* name) {
    size_t n = strlen(name);
    if (n > 0 && name[n - 1] == '.') n--; // a rooted name
    if (n == 0 || n > 253) return false;
    size_t label = 0, lastStart = 0;
    for (size_t i = 0; i < n; i++) {
        unsigned char b = static_cast<unsigned char>(name[i]);
        if (b == '.') {
            if (label == 0) return false;
            label = 0;
            lastStart = i + 1;
            continue;
        }
        bool ok = (b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') || (b >= '0' && b <= '9') ||
                  b == '-' || b == '_';
        if (!ok || ++label > 63) return false;
    }
    if (label == 0) return false;
    // Names under "invalid" never resolve (RFC 6761); asking would only leak
    // the name to the network.
    return !(n - lastStart == 7 && strncasecmp(name + lastStart, "invalid", 7) == 0);
}

bool pop3_resolve(const char* name, int port, sockaddr_storage& out) {
    memset(&out, 0, sizeof out);
    uint16_t netPort = htons(static_cast<uint16_t>(port));
    auto* v4 = reinterpret_cast<sockaddr_in*>(&out);
    if (inet_pton(AF_INET, name, &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = netPort;
        return true;
    }
    char literal[64];
    size_t n = strlen(name);
    const char* v6text = name;
    if (n >= 2 && n < sizeof literal + 2 && name[0] == '[' && name[n - 1] == ']') {
        memcpy(literal, name + 1, n - 2);
        literal[n - 2] = '\0';
        v6text = literal;
    }
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&out);
    if (inet_pton(AF_INET6, v6text, &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = netPort;
        return true;
    }
    if (!pop3_name_valid(name)) return false;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(name, nullptr, &hints, &found) != 0 || !found) return false;
    bool ok = false;
    for (addrinfo* a = found; a && !ok; a = a->ai_next) {
        if (a->ai_family == AF_INET && a->ai_addrlen >= sizeof(sockaddr_in)) {
            memcpy(v4, a->ai_addr, sizeof(sockaddr_in));
            v4->sin_port = netPort;
            ok = true;
        } else if (a->ai_family == AF_INET6 && a->ai_addrlen >= sizeof(sockaddr_in6)) {
            memcpy(v6, a->ai_addr, sizeof(sockaddr_in6));
            v6->sin6_port = netPort;
            ok = true;
        }
    }
    freeaddrinfo(found);
    return ok;
}
