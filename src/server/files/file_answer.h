// The file an answer serves: a static file, or a user's attachment.
#pragma once
#include "page/connection.h"

struct FileAnswer {
    char name[kFieldSize]; // attachment name being downloaded
    char path[kFieldSize]; // path of the file being served
};
