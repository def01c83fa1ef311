#include "base/server_paths.h"
#include "base/text/percent_decode.h"
#include "server/files/file_access.h"
#include "server/files/static_file.h"
#include "store/data_file.h"
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// The file part of the request: up to the protocol word or the query.
std::string RequestPart(const char* requestPath) {
    const char* end = strstr(requestPath, " HTTP/");
    size_t n = end ? static_cast<size_t>(end - requestPath) : strlen(requestPath);
    std::string part(requestPath, n);
    size_t query = part.find('?');
    if (query != std::string::npos) part.resize(query);
    return part;
}

// Relative, with no ".." component. Checked on the decoded text, so escaped
// dots and slashes cannot hide a climb.
bool SafeRelative(const std::string& rel) {
    if (!rel.empty() && rel[0] == '/') return false;
    size_t start = 0;
    while (start <= rel.size()) {
        size_t end = rel.find('/', start);
        if (end == std::string::npos) end = rel.size();
        if (rel.compare(start, end - start, "..") == 0) return false;
        start = end + 1;
    }
    return true;
}

std::string Join(const std::string& folder, const std::string& name) {
    if (folder.empty() || folder.back() == '/') return folder + name;
    return folder + "/" + name;
}

// Opens path only when its real location is inside root (a real path).
int OpenConfined(const std::string& path, const std::string& root) {
    char resolved[PATH_MAX];
    if (!realpath(path.c_str(), resolved)) return -1;
    std::string prefix = root == "/" ? root : root + "/";
    if (strncmp(resolved, prefix.c_str(), prefix.size()) != 0) return -1;
    if (IsPrivatePath(resolved)) return -1;
    return OpenRegularFile(resolved);
}

bool Record(char* path_r, size_t cap, const std::string& path) {
    if (cap == 0) return false;
    if (path.size() >= cap) {
        path_r[0] = '\0';
        return false;
    }
    memcpy(path_r, path.c_str(), path.size() + 1);
    return true;
}

} // namespace

int StaticLookup(char* path_r, size_t cap, const char* requestPath) {
    if (cap) path_r[0] = '\0';
    std::string raw = RequestPart(requestPath);
    // An escaped NUL would cut the decoded name short.
    if (raw.find("%00") != std::string::npos) return -1;
    std::string rel(raw.size() + 1, '\0');
    PercentDecode(rel.data(), raw.c_str(), rel.size());
    rel.resize(strlen(rel.c_str()));
    if (!SafeRelative(rel)) return -1;
    const std::string& html = server_paths().html;
    if (html.empty()) return -1;
    char root[PATH_MAX];
    if (!realpath(html.c_str(), root)) return -1;

    std::string base = Join(html, rel);
    std::string candidates[3];
    int count = 0;
    if (rel.empty() || rel.back() == '/') {
        candidates[count++] = Join(base, "index.html");
        if (rel.empty()) candidates[count++] = Join(base, "index.htm");
    } else {
        candidates[count++] = base;
        candidates[count++] = Join(base, "index.html");
        candidates[count++] = Join(base, "index.htm");
    }
    for (int i = 0; i < count; i++) {
        if (!Record(path_r, cap, candidates[i])) return -1;
        int fd = OpenConfined(candidates[i], root);
        if (fd >= 0) return fd;
    }
    return -1;
}

int BackgroundLookup(char* path_r, size_t cap) {
    if (cap) path_r[0] = '\0';
    const char* image = data_store().settings.background_image;
    if (!image[0]) return -1;
    std::string path = image[0] == '/' ? std::string(image) : Join(server_paths().home, image);
    if (!Record(path_r, cap, path)) return -1;
    char resolved[PATH_MAX];
    if (!realpath(path.c_str(), resolved) || IsPrivatePath(resolved)) return -1;
    return OpenRegularFile(resolved);
}
