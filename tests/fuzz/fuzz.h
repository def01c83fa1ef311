// A fresh folder for the files a fuzz target's code under test writes. The
// targets write at every run, so the folder is in memory where the machine
// has /dev/shm: on a disk the writes, not the reader, set the rate.
#pragma once
#include <cstdlib>
#include <string>
#include <unistd.h>

inline std::string MakeScratchFolder(const char* name) {
    const std::string base = access("/dev/shm", W_OK) == 0 ? "/dev/shm/" : "/tmp/";
    std::string pattern = base + name + "-XXXXXX";
    if (!mkdtemp(pattern.data())) abort();
    return pattern;
}
