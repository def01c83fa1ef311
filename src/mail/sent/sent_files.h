// Where a user's sent-mail log lives, and what guards it.
#pragma once
#include "page/connection.h"
#include <cstddef>
#include <mutex>

// Enough for the longest log folder, a login name and an extension.
constexpr int kSentPathSize = 512;

struct SentLogPaths {
    char log[kSentPathSize];    // ".txl": the log
    char work[kSentPathSize];   // ".txw": the new log while entries are deleted
    char backup[kSentPathSize]; // ".txb": the log before the last rewrite
    char folder[kSentPathSize];
    int sizeLimitKb; // log_size_kb when the paths were taken
};

// Fills p from the log folder of the basic settings (the user folder when it
// is empty) and c.userName. False for a login name that could name a file
// outside the folder ("", ".", "..", anything with "/") or a path that does
// not fit; no file may then be touched.
bool sent_log_paths(const Connection& c, SentLogPaths& p);

// The lock that serialises the appends and deletions of c.userName.
// Different names may share a lock; it is never taken with globalLock held.
std::mutex& sent_log_mutex(const Connection& c);

// A write-through buffer for a log file being written. Failed writes are
// remembered; nothing is retried.
class SentFileWriter {
public:
    explicit SentFileWriter(int fd) : fd_(fd) {}
    void Put(const char* bytes, size_t n);
    void Put(const char* text);
    // Writes what is buffered; false when any write has failed.
    bool Flush();

private:
    int fd_;
    bool failed_ = false;
    size_t used_ = 0;
    char buffer_[8192];
};

// Makes the directory entries of folder durable (renames, new files).
void sent_sync_folder(const char* folder);
