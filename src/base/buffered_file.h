// Line-sized pieces written to a file through a block buffer become few
// large writes. The buffer's size comes with its type.
#pragma once
#include <cstddef>

// Adds bytes for fd (nothing when fd < 0). Returns false when a write failed
// (the disk is full); what was buffered is dropped then.
bool BufferedWrite(int fd, char* buffer, size_t capacity, int& fill, const char* bytes, size_t n);
// Writes what is buffered. Returns false when a write failed.
bool FlushFile(int fd, char* buffer, size_t capacity, int& fill);

template <size_t N>
bool BufferedWrite(int fd, char (&buffer)[N], int& fill, const char* bytes, size_t n) {
    return BufferedWrite(fd, buffer, N, fill, bytes, n);
}
template <size_t N> bool FlushFile(int fd, char (&buffer)[N], int& fill) {
    return FlushFile(fd, buffer, N, fill);
}
