// The gateway's listening socket: on every local address, or on the one
// address the command line named.
#include "server/listener/listener.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace {

sockaddr_storage gAddress{};
socklen_t gAddressLength = 0; // 0: every local address
char gUrlHost[INET6_ADDRSTRLEN + 2] = "127.0.0.1";

} // namespace

bool SetListenAddress(const char* numeric) {
    sockaddr_storage a{};
    auto* v4 = reinterpret_cast<sockaddr_in*>(&a);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&a);
    char text[INET6_ADDRSTRLEN];
    if (inet_pton(AF_INET, numeric, &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text);
        snprintf(gUrlHost, sizeof gUrlHost, "%s", text);
        gAddressLength = sizeof *v4;
    } else if (inet_pton(AF_INET6, numeric, &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text);
        snprintf(gUrlHost, sizeof gUrlHost, "[%s]", text);
        gAddressLength = sizeof *v6;
    } else {
        return false;
    }
    gAddress = a;
    return true;
}

const char* ListenUrlHost() {
    return gUrlHost;
}

namespace {

// Binds a listening socket to the address (every local address when length
// is 0) at port.
int open_listen(sockaddr_storage a, socklen_t length, int port) {
    const bool named = length != 0;
    // Every address: one IPv6 socket that takes IPv4 too, or IPv4 alone on a
    // host without IPv6.
    int fd = -1;
    if (length == 0) {
        fd = socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd >= 0) {
            auto* v6 = reinterpret_cast<sockaddr_in6*>(&a);
            v6->sin6_family = AF_INET6;
            v6->sin6_addr = in6addr_any;
            length = sizeof *v6;
        } else {
            auto* v4 = reinterpret_cast<sockaddr_in*>(&a);
            v4->sin_family = AF_INET;
            v4->sin_addr.s_addr = htonl(INADDR_ANY);
            length = sizeof *v4;
        }
    }
    if (fd < 0) fd = socket(a.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (a.ss_family == AF_INET6) {
        // The any-address socket serves IPv4 as well; a named IPv6 address
        // is that address only.
        int v6only = named;
        setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &v6only, sizeof v6only);
        reinterpret_cast<sockaddr_in6*>(&a)->sin6_port = htons(static_cast<uint16_t>(port));
    } else {
        reinterpret_cast<sockaddr_in*>(&a)->sin_port = htons(static_cast<uint16_t>(port));
    }
    // A deep backlog: bursts of browsers opening several connections at once
    // must not be refused by the kernel.
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), length) != 0 || listen(fd, SOMAXCONN) != 0) {
        int saved = errno;
        close(fd);
        errno = saved;
        return -1;
    }
    return fd;
}

} // namespace

int OpenListenSocket(int port) {
    return open_listen(gAddress, gAddressLength, port);
}

bool ParseListenEndpoint(const char* text, ListenEndpoint& out) {
    const std::string t = text;
    const size_t colon = t.rfind(':');
    std::string host = colon == std::string::npos ? "" : t.substr(0, colon);
    const std::string port = colon == std::string::npos ? t : t.substr(colon + 1);
    if (port.empty() || port.size() > 5 ||
        port.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const int number = std::stoi(port);
    if (number < 1 || number > 65535) return false;
    ListenEndpoint e;
    e.port = number;
    const bool bracketed = host.size() >= 2 && host.front() == '[' && host.back() == ']';
    // A bare IPv6 address would leave the port in doubt ("::1:443").
    if (!bracketed && host.find(':') != std::string::npos) return false;
    if (bracketed) host = host.substr(1, host.size() - 2);
    char shown[INET6_ADDRSTRLEN];
    if (host.empty() || host == "*") {
        if (bracketed) return false;
        e.length = 0;
        snprintf(e.urlHost, sizeof e.urlHost, "127.0.0.1");
    } else if (!bracketed &&
               inet_pton(AF_INET, host.c_str(),
                         &reinterpret_cast<sockaddr_in*>(&e.address)->sin_addr) == 1) {
        e.address.ss_family = AF_INET;
        e.length = sizeof(sockaddr_in);
        inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(&e.address)->sin_addr, shown,
                  sizeof shown);
        snprintf(e.urlHost, sizeof e.urlHost, "%s", shown);
    } else if (bracketed &&
               inet_pton(AF_INET6, host.c_str(),
                         &reinterpret_cast<sockaddr_in6*>(&e.address)->sin6_addr) == 1) {
        e.address.ss_family = AF_INET6;
        e.length = sizeof(sockaddr_in6);
        inet_ntop(AF_INET6, &reinterpret_cast<sockaddr_in6*>(&e.address)->sin6_addr, shown,
                  sizeof shown);
        snprintf(e.urlHost, sizeof e.urlHost, "[%s]", shown);
    } else {
        return false;
    }
    out = e;
    return true;
}

int OpenEndpointSocket(const ListenEndpoint& e) {
    return open_listen(e.address, e.length, e.port);
}
