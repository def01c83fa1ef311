#include "base/buffered_file.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace {

bool WriteAll(int fd, const char* bytes, size_t n) {
    while (n > 0) {
        const ssize_t w = write(fd, bytes, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        bytes += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

} // namespace

bool FlushFile(int fd, char* buffer, size_t capacity, int& fill) {
    const int n = fill;
    fill = 0;
    if (fd < 0 || n <= 0 || static_cast<size_t>(n) > capacity) return true;
    return WriteAll(fd, buffer, static_cast<size_t>(n));
}

bool BufferedWrite(int fd, char* buffer, size_t capacity, int& fill, const char* bytes, size_t n) {
    if (fd < 0 || n == 0) return true;
    if (fill < 0 || static_cast<size_t>(fill) > capacity) fill = 0;
    if (static_cast<size_t>(fill) + n > capacity && !FlushFile(fd, buffer, capacity, fill))
        return false;
    if (n >= capacity) return WriteAll(fd, bytes, n);
    memcpy(buffer + fill, bytes, n);
    fill += static_cast<int>(n);
    return true;
}
