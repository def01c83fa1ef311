#include "mail/sent/sent_line_reader.h"

#include "base/charset/sjis.h"
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

// The next block; false when the file has no more data.
bool refill(SentLineReader& r) {
    ssize_t n;
    do {
        n = read(r.fd, r.block, r.blockSize - 1);
    } while (n < 0 && errno == EINTR);
    if (n <= 0) return false;
    r.block[n] = '\0';
    r.fill = strlen(r.block);
    r.position = 0;
    return true;
}

} // namespace

bool sent_reader_open(SentLineReader& r, const char* path, char* block, size_t blockSize) {
    sent_reader_close(r);
    if (blockSize < 2) return false;
    r.fd = open(path, O_RDONLY | O_CLOEXEC);
    if (r.fd < 0) return false;
    r.block = block;
    r.blockSize = blockSize;
    r.position = r.fill = r.length = 0;
    r.line[0] = '\0';
    return true;
}

int sent_reader_next(SentLineReader& r) {
    r.length = 0;
    r.line[0] = '\0';
    if (r.fd < 0) return 0;
    bool trail = false; // the next byte completes a two-byte character
    for (;;) {
        if (r.position >= r.fill && !refill(r)) return 0;
        const auto b = static_cast<unsigned char>(r.block[r.position]);
        if (b == '\n') {
            r.position++;
            r.line[r.length] = '\0';
            return 1;
        }
        if (b == '\r') {
            r.position++;
            continue;
        }
        const bool lead = !trail && is_sjis_lead(b);
        if (r.length + (lead ? 2 : 1) > static_cast<size_t>(kSentLineMax)) {
            // Cut here; this byte starts the next line.
            r.line[r.length] = '\0';
            return 1;
        }
        r.line[r.length++] = static_cast<char>(b);
        r.position++;
        trail = lead;
    }
}

void sent_reader_close(SentLineReader& r) {
    if (r.fd >= 0) close(r.fd);
    r.fd = -1;
}
