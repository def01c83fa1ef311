// A folder of one test's own, base/tarnbox-<name>-XXXXXX, with the named
// subfolders made in it; the test removes it when it ends. Empty, and the
// test failed, when none can be made.
#pragma once
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <initializer_list>
#include <stdlib.h>
#include <string>

inline std::string MakeScratchFolder(const char* name,
                                     std::initializer_list<const char*> subfolders = {},
                                     const std::string& base = "/tmp") {
    std::string pattern = base + "/tarnbox-" + name + "-XXXXXX";
    if (!mkdtemp(pattern.data())) {
        ADD_FAILURE() << "cannot make " << pattern;
        return {};
    }
    for (const char* d : subfolders) std::filesystem::create_directory(pattern + "/" + d);
    return pattern;
}

// Writes bytes as the whole file at path, making the folders above it. A
// fresh file rather than a truncated one: ext4 flushes truncated files on
// close, which makes tests that rewrite a file thousands of times crawl.
inline void WriteFile(const std::string& path, const std::string& bytes) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::remove(path.c_str());
    EXPECT_TRUE(std::ofstream(path, std::ios::binary) << bytes) << path;
}
