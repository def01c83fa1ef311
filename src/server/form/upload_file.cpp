#include "server/form/upload_file.h"
#include "page/form_reading.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

#include "base/buffered_file.h"
#include "base/global_lock.h"
#include "base/server_paths.h"

namespace {

// Values of c.form.crlfHeld. A CR alone is held when a long line was cut right
// after it: the LF that follows may make it the CRLF in front of the boundary.
enum : uint16_t { kNothingHeld = 0, kCrlfHeld = 1, kCrHeld = 2 };

// The user name becomes a folder and a file name: it must not name another
// folder.
bool PlainFileName(const char* name) {
    if (name[0] == '\0' || strchr(name, '/') != nullptr) return false;
    return strcmp(name, ".") != 0 && strcmp(name, "..") != 0;
}

void WriteAll(Connection& c, const char* data, size_t n) {
    // A full disk ends the file here rather than leaving a hole.
    if (!BufferedWrite(c.file, c.fileBuffer, c.fileBuffered, data, n)) CloseUpload(c);
}

} // namespace

void OpenUpload(Connection& c) {
    CloseUpload(c);
    const std::string& temp = server_paths().temp;
    // The folder is the logged-in user's own; a name that differs from it
    // (set by credentials that failed) never chooses another one.
    if (c.user == nullptr || strcmp(c.userName, c.user->set[0].id) != 0) return;
    if (temp.empty() || !PlainFileName(c.userName)) return;
    char folder[PATH_MAX];
    char path[PATH_MAX];
    int n = snprintf(folder, sizeof folder, "%s/%s", temp.c_str(), c.userName);
    if (n < 0 || static_cast<size_t>(n) >= sizeof folder) return;
    n = snprintf(path, sizeof path, "%s/%s.%d", folder, c.userName, c.uploadCount);
    if (n < 0 || static_cast<size_t>(n) >= sizeof path) return;
    // Workers of the same user create and empty this folder concurrently.
    std::lock_guard<std::recursive_mutex> hold(globalLock);
    if (mkdir(folder, 0700) != 0 && errno != EEXIST) return;
    int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return;
    c.file = fd;
    c.fileBuffered = 0;
    ++c.uploadCount;
}

void WriteUploadPiece(Connection& c, const char* data, int length) {
    if (c.file < 0 || length <= 0) return;
    if (c.form.crlfHeld == kCrHeld) {
        c.form.crlfHeld = kNothingHeld;
        if (length == 1 && data[0] == '\n') {
            c.form.crlfHeld = kCrlfHeld;
            return;
        }
        WriteAll(c, "\r", 1);
    } else if (c.form.crlfHeld == kCrlfHeld) {
        c.form.crlfHeld = kNothingHeld;
        WriteAll(c, "\r\n", 2);
    }
    size_t n = static_cast<size_t>(length);
    if (n >= 2 && data[n - 2] == '\r' && data[n - 1] == '\n') {
        WriteAll(c, data, n - 2);
        c.form.crlfHeld = kCrlfHeld;
    } else if (n == kLineSize - 1 && data[n - 1] == '\r') {
        WriteAll(c, data, n - 1);
        c.form.crlfHeld = kCrHeld;
    } else {
        WriteAll(c, data, n);
    }
}

void CloseUpload(Connection& c) {
    if (c.file >= 0) {
        FlushFile(c.file, c.fileBuffer, c.fileBuffered);
        close(c.file);
        c.file = -1;
    }
    c.fileBuffered = 0;
}
