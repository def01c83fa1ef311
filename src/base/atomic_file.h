// The one way a file of the gateway is replaced.
#pragma once
#include <string>
#include <string_view>
#include <sys/types.h>

// Replaces the file at path with bytes so that a reader, a crash or a full
// disk finds either the old file whole or the new one: written to path +
// ".new" (a fresh file with mode from its first byte), synced, renamed over
// path, and the folder synced so that the rename itself survives. False
// with errno set when it failed; the temporary file is removed then.
bool write_file_atomically(const std::string& path, std::string_view bytes, mode_t mode);
