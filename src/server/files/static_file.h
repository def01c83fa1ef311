// Files of the html folder, the background image and attachment downloads.
#pragma once
#include "server/connection.h"
#include <cstddef>

// Finds the file for a request path (after its leading "/") under the html
// folder; never outside it. Returns an open descriptor or -1; path_r (of
// capacity cap) receives the path tried last.
int StaticLookup(char* path_r, size_t cap, const char* requestPath);
// Header block for routes 11 and 12.
void StaticFile(Connection& c);
// Dispatcher steps.
void StaticStreamStep(Connection& c);
void DownloadStartStep(Connection& c);
void DownloadStreamStep(Connection& c);
