#include "base/global_lock.h"
#include "base/text/char_class.h"
#include "base/text/text_search.h"
#include "mail/compose/outgoing.h"
#include "mail/sent/sent_log.h"
#include "mail/sent/sent_log_internal.h"
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <new>
#include <unistd.h>

namespace {

// The block buffer of the copy; large, so a log is read in few calls.
constexpr size_t kCopyBlockSize = 128000;

// Heap blocks are freed under globalLock.
struct LockedFree {
    void operator()(char* p) const {
        std::lock_guard<std::recursive_mutex> hold(globalLock);
        delete[] p;
    }
};

// Walks the numbers of a delete list; 0 once it holds no further number.
struct NumberList {
    const char* p;
    int Next() {
        while (*p == ',' || *p == ' ') p++;
        if (!IsDigit(static_cast<unsigned char>(*p))) return 0;
        return ParseInt(p, &p);
    }
};

} // namespace

void sent_filter_copy(Connection& c, const SentLogPaths& paths, bool byDate) {
    std::unique_ptr<char[], LockedFree> block(new (std::nothrow) char[kCopyBlockSize]);
    if (!block) return;
    SentLineReader r;
    if (!sent_reader_open(r, paths.log, block.get(), kCopyBlockSize)) return;
    SentReaderCloser closeReader{r};
    int fd = open(paths.work, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return;

    c.deleteList[sizeof c.deleteList - 1] = '\0';
    c.send.dateLine[sizeof c.send.dateLine - 1] = '\0';
    const int dateLength = static_cast<int>(strlen(c.send.dateLine));
    NumberList numbers{c.deleteList};
    int target = byDate ? 0 : numbers.Next();
    int n = 1;
    bool header = true;
    bool kept = false;
    SentFileWriter w(fd);
    while (sent_reader_next(r)) {
        const char* line = r.line;
        if (header) {
            if (byDate && n != c.itemNumber) {
                target = 0;
            } else if (byDate && strncmp(line, "Date: ", 6) == 0 &&
                       PrefixEqualNoCase(line + 6, c.send.dateLine, dateLength) == 0) {
                target = n;
            }
            if (target != n) {
                w.Put(line, r.length);
                w.Put("\n");
                kept = true;
            }
            if (r.length == 0) header = false;
            continue;
        }
        if (target != n) {
            w.Put(line, r.length);
            w.Put("\n");
        }
        if (strcmp(line, ".") == 0) {
            if (!byDate && target == n) target = numbers.Next();
            header = true;
            n++;
        }
    }
    bool written = w.Flush() && fsync(fd) == 0;
    close(fd);
    if (!written) {
        unlink(paths.work);
        return;
    }
    // The log is replaced in one step; the backup is a second name for the
    // old one, so there is never a moment without a log.
    unlink(paths.backup);
    if (!kept) {
        rename(paths.log, paths.backup);
        unlink(paths.work);
    } else if (link(paths.log, paths.backup) == 0) {
        rename(paths.work, paths.log);
    } else {
        rename(paths.log, paths.backup);
        rename(paths.work, paths.log);
    }
    sent_sync_folder(paths.folder);
}

void DeleteSentEntries(Connection& c, bool byDate) {
    SentLogPaths paths;
    if (!sent_log_paths(c, paths)) return;
    std::lock_guard<std::mutex> hold(sent_log_mutex(c));
    sent_filter_copy(c, paths, byDate);
}
