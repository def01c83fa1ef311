#include "server/files/buffered_file.h"

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

bool FlushFile(Connection& c) {
    const int n = c.fileBuffered;
    c.fileBuffered = 0;
    if (c.file < 0 || n <= 0 || n > kFileBufferSize) return true;
    return WriteAll(c.file, c.fileBuffer, static_cast<size_t>(n));
}

bool BufferedWrite(Connection& c, const char* bytes, size_t n) {
    if (c.file < 0 || n == 0) return true;
    if (c.fileBuffered < 0 || c.fileBuffered > kFileBufferSize) c.fileBuffered = 0;
    if (static_cast<size_t>(c.fileBuffered) + n > kFileBufferSize && !FlushFile(c)) return false;
    if (n >= kFileBufferSize) return WriteAll(c.file, bytes, n);
    memcpy(c.fileBuffer + c.fileBuffered, bytes, n);
    c.fileBuffered += static_cast<int>(n);
    return true;
}
