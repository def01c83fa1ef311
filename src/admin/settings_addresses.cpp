// `tarnbox settings addresses`: what users type into a browser to reach the
// gateway — by the machine's name, and by its address.
#include "admin/admin_context.h"
#include "admin/admin_output.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <string>
#include <unistd.h>

namespace {

std::string Url(const std::string& host, int port) {
    return port == 80 ? "http://" + host : "http://" + host + ":" + std::to_string(port);
}

// The machine's first IPv4 address that is not loopback, taken from its own
// interfaces: asking a name service for the machine's name could leave the
// machine and wait on the network.
std::string OwnAddress() {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return "";
    std::string found;
    for (ifaddrs* i = list; i && found.empty(); i = i->ifa_next) {
        if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET) continue;
        const auto* a = reinterpret_cast<const sockaddr_in*>(i->ifa_addr);
        if ((ntohl(a->sin_addr.s_addr) >> 24) == 127) continue;
        char text[INET_ADDRSTRLEN];
        if (inet_ntop(AF_INET, &a->sin_addr, text, sizeof text)) found = text;
    }
    freeifaddrs(list);
    return found;
}

} // namespace

int admin_settings_addresses(AdminContext& ctx) {
    if (!ctx.args.empty()) return admin_fail("settings addresses: 引数は要りません。");
    if (int r = open_store(ctx, false)) return r;
    const int port = ctx.ds.settings.http_port;
    char host[256] = "";
    if (gethostname(host, sizeof host - 1) == 0 && host[0]) admin_out(Url(host, port));
    const std::string address = OwnAddress();
    if (!address.empty()) admin_out(Url(address, port));
    return 0;
}
