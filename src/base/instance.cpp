#include "base/instance.h"
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

static int gInstanceFd = -1;

int ClaimInstance(const std::string& lock_file) {
    if (gInstanceFd >= 0) return 1;
    int fd = open(lock_file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return -1;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        int saved = errno;
        close(fd);
        errno = saved;
        return saved == EWOULDBLOCK ? 0 : -1;
    }
    gInstanceFd = fd;
    return 1;
}

void ReleaseInstance() {
    if (gInstanceFd < 0) return;
    close(gInstanceFd);
    gInstanceFd = -1;
}
