// Folders of the running gateway, set once at start.
#pragma once
#include <string>

struct ServerPaths {
    std::string home;
    std::string html; // static files, top page, logout.html
    std::string temp; // one subfolder per user: attachments and uploads
    std::string user; // sent-mail logs, address-book files
};

ServerPaths& server_paths();
