#include "mail/sent/sent_files.h"

#include "base/global_lock.h"
#include "base/server_paths.h"
#include "store/data_file.h"
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int kLockCount = 64;

bool safe_login_name(const char* name) {
    return name[0] && strcmp(name, ".") != 0 && strcmp(name, "..") != 0 && !strchr(name, '/');
}

bool format_path(char (&dst)[kSentPathSize], const char* folder, const char* name,
                 const char* extension) {
    int n = snprintf(dst, sizeof dst, "%s/%s%s", folder, name, extension);
    return n > 0 && n < static_cast<int>(sizeof dst);
}

} // namespace

bool sent_log_paths(const Connection& c, SentLogPaths& p) {
    char name[sizeof c.userName];
    memcpy(name, c.userName, sizeof name);
    name[sizeof name - 1] = '\0';
    if (!safe_login_name(name)) return false;
    {
        std::lock_guard<std::recursive_mutex> hold(globalLock);
        const BasicSettings& s = data_store().settings;
        const char* folder = s.log_folder;
        size_t n = strnlen(folder, sizeof s.log_folder);
        if (n == 0) {
            folder = server_paths().user.c_str();
            n = server_paths().user.size();
        }
        if (n == 0 || n >= sizeof p.folder) return false;
        memcpy(p.folder, folder, n);
        p.folder[n] = '\0';
        p.sizeLimitKb = s.log_size_kb;
    }
    return format_path(p.log, p.folder, name, ".txl") &&
           format_path(p.work, p.folder, name, ".txw") &&
           format_path(p.backup, p.folder, name, ".txb");
}

std::mutex& sent_log_mutex(const Connection& c) {
    static std::mutex locks[kLockCount];
    uint32_t h = 2166136261u; // FNV-1a
    const size_t n = strnlen(c.userName, sizeof c.userName);
    for (size_t i = 0; i < n; ++i) {
        h ^= static_cast<unsigned char>(c.userName[i]);
        h *= 16777619u;
    }
    return locks[h % kLockCount];
}

void SentFileWriter::Put(const char* bytes, size_t n) {
    while (n > 0) {
        if (used_ == sizeof buffer_ && !Flush()) return;
        size_t room = sizeof buffer_ - used_;
        size_t k = n < room ? n : room;
        memcpy(buffer_ + used_, bytes, k);
        used_ += k;
        bytes += k;
        n -= k;
    }
}

void SentFileWriter::Put(const char* text) {
    Put(text, strlen(text));
}

bool SentFileWriter::Flush() {
    size_t done = 0;
    while (!failed_ && done < used_) {
        ssize_t n = write(fd_, buffer_ + done, used_ - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0)
            failed_ = true;
        else
            done += static_cast<size_t>(n);
    }
    used_ = 0;
    return !failed_;
}

void sent_sync_folder(const char* folder) {
    int fd = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    fsync(fd);
    close(fd);
}
