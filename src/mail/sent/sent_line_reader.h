// The line reader every reader of a sent-mail log goes through.
#pragma once
#include <cstddef>

// Longest line the reader returns; the rest of a longer line comes back as
// the next line. A two-byte character is never cut in half.
constexpr int kSentLineMax = 4096;

// Reads a file in blocks of (blockSize - 1) bytes into a caller's buffer and
// hands out lines taken at LF with every CR dropped. A NUL byte ends the
// block it is read in (the bytes after it in that block are skipped). A last
// line without its LF is not returned: an entry still being written is never
// seen half.
struct SentLineReader {
    int fd = -1;
    char* block = nullptr;
    size_t blockSize = 0;
    size_t position = 0;
    size_t fill = 0;
    size_t length = 0;             // of line, without the NUL
    char line[kSentLineMax + 1]{}; // the line last returned
};

// Opens path for reading over block (blockSize >= 2). False when the file
// does not open; the reader is then closed.
bool sent_reader_open(SentLineReader& r, const char* path, char* block, size_t blockSize);

// 1 when r.line / r.length hold the next line, 0 at the end of the file.
int sent_reader_next(SentLineReader& r);

void sent_reader_close(SentLineReader& r);

// Closes the reader when it leaves scope.
struct SentReaderCloser {
    SentLineReader& r;
    ~SentReaderCloser() { sent_reader_close(r); }
};
