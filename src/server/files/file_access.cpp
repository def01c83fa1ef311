#include "server/files/file_access.h"
#include "base/server_paths.h"
#include "page/client_stream.h"
#include "store/data_file.h"
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The real path of a folder or file of the gateway; empty when it does not exist.
std::string RealPath(const std::string& path) {
    if (path.empty()) return {};
    char resolved[PATH_MAX];
    if (!realpath(path.c_str(), resolved)) return {};
    return resolved;
}

bool InFolder(const char* resolved, const std::string& folder) {
    if (folder.empty()) return false;
    std::string prefix = folder == "/" ? folder : folder + "/";
    return strncmp(resolved, prefix.c_str(), prefix.size()) == 0;
}

} // namespace

int OpenRegularFile(const char* path) {
    int fd = open(path, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) return -1;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return -1;
    }
    // Regular files ignore O_NONBLOCK; it was only there for the open.
    fcntl(fd, F_SETFL, 0);
    return fd;
}

bool IsPrivatePath(const char* resolved) {
    std::string data = RealPath(data_store().data_path);
    if (!data.empty() && data == resolved) return true;
    return InFolder(resolved, RealPath(server_paths().user)) ||
           InFolder(resolved, RealPath(server_paths().temp)) ||
           InFolder(resolved, RealPath(data_store().user_folder));
}

bool SendBlock(Connection& c, const char* bytes, size_t n) {
    if (c.client.socket < 0) {
        if (c.captureForTest) c.captureForTest->append(bytes, n);
        return true;
    }
    FlushClient(c); // the head of the answer goes first
    return ClientSend(c.client, bytes, n);
}

void CloseFile(Connection& c) {
    if (c.file >= 0) close(c.file);
    c.file = -1;
}
