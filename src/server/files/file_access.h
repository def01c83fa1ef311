// Opening and sending the files the gateway serves.
#pragma once
#include "page/connection.h"
#include <cstddef>

// Bytes moved per stream step. Large enough that a connection streams at
// disk speed, small enough that one download does not monopolise a pass.
constexpr size_t kStreamBlock = 64 * 1024;

// Opens path read-only when it is a regular file, without following a final
// symbolic link; -1 otherwise. A FIFO or device never blocks the open.
int OpenRegularFile(const char* path);
// True when the resolved (absolute, link-free) path is the data file or lies
// in the user or temp folder: the gateway's own files are never served.
bool IsPrivatePath(const char* resolved);
// Sends bytes to the client (or the test capture). False when the send
// failed: the client has gone.
bool SendBlock(Connection& c, const char* bytes, size_t n);
// Closes c.file and marks it closed.
void CloseFile(Connection& c);
