#include "base/server_paths.h"

ServerPaths& server_paths() {
    static ServerPaths paths;
    return paths;
}
