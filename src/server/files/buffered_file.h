// Writing c.file through the connection's block buffer: line-sized pieces
// become few large writes.
#pragma once
#include "server/connection.h"
#include <cstddef>

// Adds bytes for c.file. Returns false when a write failed (the disk is
// full); what was buffered is dropped then.
bool BufferedWrite(Connection& c, const char* bytes, size_t n);
// Writes what is buffered. Returns false when a write failed.
bool FlushFile(Connection& c);
