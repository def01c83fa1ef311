#include "base/date/time_zone.h"
#include "base/text/text_copy.h"
#include "mail/compose/outgoing.h"
#include "mail/sent/sent_files.h"
#include "mail/sent/sent_log.h"
#include "mail/sent/sent_log_internal.h"
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

void format_date(Connection& c) {
    struct tm t {};
    if (!gateway_local_time(time(nullptr), t)) t = tm{};
    snprintf(c.send.dateLine, sizeof c.send.dateLine, "%04d/%02d/%02d %02d:%02d:%02d",
             t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
}

void put_held(SentFileWriter& w, const char* line, size_t capacity) {
    w.Put(line, strnlen(line, capacity));
}

void write_entry(Connection& c, SentFileWriter& w) {
    const OutgoingMail& m = c.send;
    w.Put("Date: ");
    w.Put(m.dateLine);
    w.Put("\r\n");
    put_held(w, m.subjectLine, sizeof m.subjectLine);
    put_held(w, m.fromLine, sizeof m.fromLine);
    put_held(w, m.toLine, sizeof m.toLine);
    if (m.sendCc[0]) put_held(w, m.ccLine, sizeof m.ccLine);
    if (m.sendBcc[0]) put_held(w, m.bccLine, sizeof m.bccLine);
    const int uploads = c.uploadCount < 0             ? 0
                        : c.uploadCount > kMaxUploads ? kMaxUploads
                                                      : c.uploadCount;
    for (int i = 0; i < uploads; i++) {
        w.Put("X-Files: ");
        put_held(w, c.uploadNames[i], sizeof c.uploadNames[i]);
        w.Put("\n");
    }
    w.Put("\n");
    c.messageText[kMessageTextSize - 1] = '\0';
    char line[kSentLineMax + 1];
    for (const char* p = c.messageText; *p;) {
        p = ReadLine(line, p);
        // A lone "." would end the entry early.
        w.Put(strcmp(line, ".") == 0 ? ".." : line);
        w.Put("\n");
    }
    w.Put(".\n");
}

} // namespace

void AppendSentLog(Connection& c) {
    SentLogPaths paths;
    if (!sent_log_paths(c, paths)) return;
    format_date(c);
    std::lock_guard<std::mutex> hold(sent_log_mutex(c));
    int fd = open(paths.log, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0) return;
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        close(fd);
        return;
    }
    const long long before = st.st_size;
    const long long size =
        before + static_cast<long long>(strnlen(c.messageText, kMessageTextSize));
    SentFileWriter w(fd);
    write_entry(c, w);
    bool written = w.Flush() && fsync(fd) == 0;
    // Take a failed entry back out, so the log still ends at an entry's end.
    if (!written && ftruncate(fd, before) == 0) fsync(fd);
    close(fd);
    if (before == 0) sent_sync_folder(paths.folder);
    // The entry just written is never the one rotated away.
    if (!written || before == 0) return;
    if (static_cast<long long>(paths.sizeLimitKb) * 1024 < size) {
        snprintf(c.deleteList, sizeof c.deleteList, "1,");
        sent_filter_copy(c, paths, false);
    }
}
