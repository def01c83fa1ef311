#include "server/text/path_part.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// "hyo" and "no": second byte 0x5C, the folder separator of other systems.
#define HYO "\x95\x5c"
#define NO "\x94\x5c"

TEST(PathPartTest, Pieces) {
    const struct {
        const char* path;
        const char* stripped;
        const char* extension;
        const char* file_name;
        const char* folder;
    } cases[] = {
        {"temp/taro/a.txt", "temp/taro/a", "txt", "a.txt", "temp/taro"},
        {"C:\\docs\\report.v2.doc", "C:\\docs\\report.v2", "doc", "report.v2.doc", "C:\\docs"},
        {"dir.d\\file", "dir.d\\file", "", "file", "dir.d"},
        {"a.b:c", "a", "", "c", "a.b:c"},
        {"plain", "plain", "", "plain", "plain"},
        {"up\\" HYO ".txt", "up\\" HYO, "txt", HYO ".txt", "up"},
        {"up/" NO "." HYO, "up/" NO, HYO, NO "." HYO, "up"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        std::string stripped = c.path;
        EXPECT_EQ(StripExtension(stripped.data()), std::string(c.stripped) != c.path ? 1 : 0);
        EXPECT_STREQ(stripped.c_str(), c.stripped);
        EXPECT_STREQ(Extension(c.path), c.extension);
        EXPECT_STREQ(FileNamePart(c.path), c.file_name);
        std::string folder = c.path;
        EXPECT_EQ(FolderPart(folder.data()), std::string(c.folder) != c.path ? 1 : 0);
        EXPECT_STREQ(folder.c_str(), c.folder);
    }
}

} // namespace
