#include "mail/net/mail_connect.h"

#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>

int workerTimeoutSeconds = 30;

socklen_t mail_address_length(const sockaddr_storage& address) {
    return address.ss_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
}

bool mail_connect(int fd, const sockaddr_storage& address, int stepMs,
                  const std::function<bool()>& keepTrying) {
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) return false;
    const auto* to = reinterpret_cast<const sockaddr*>(&address);
    if (connect(fd, to, mail_address_length(address)) != 0) {
        if (errno != EINPROGRESS && errno != EINTR) return false;
        for (;;) {
            pollfd p{fd, POLLOUT, 0};
            const int k = poll(&p, 1, stepMs);
            if (k < 0 && errno != EINTR) return false;
            if (k > 0) break;
            if (!keepTrying()) return false;
        }
        int error = 0;
        socklen_t length = sizeof error;
        if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) return false;
    }
    return fcntl(fd, F_SETFL, flags) == 0;
}
