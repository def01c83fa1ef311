// Files of the html folder, the background image and attachment downloads.
#pragma once
#include "page/connection.h"
#include <cstddef>

// Finds the file for a request path (after its leading "/") under the html
// folder; never outside it. The path ends at " HTTP/" or "?" and is
// percent-decoded; ".." components, absolute paths, names whose real path
// leaves the folder, non-regular files and anything in the data file, user
// or temp folder give -1. A folder path (ending in "/") tries its
// index.html; any other path the name, then name/index.html, then
// name/index.htm. Returns an open descriptor or -1; path_r (of capacity cap)
// receives the path tried last.
int StaticLookup(char* path_r, size_t cap, const char* requestPath);
// The background image of the basic settings (relative paths are taken from
// the home folder). Returns an open descriptor or -1; path_r receives its path.
int BackgroundLookup(char* path_r, size_t cap);
// Header block for routes 11 and 12.
void StaticFile(Connection& c);
// Route 10: the first header lines of the download of attachment entry
// c.itemNumber of c.user; state DownloadStart (Done with the not-found page
// when the stored name cannot be served).
void StartDownload(Connection& c);
// Dispatcher steps. Each moves one block of the file (a few tens of
// kilobytes at most, so other connections keep moving).
void StaticStreamStep(Connection& c);
void DownloadStartStep(Connection& c);
// Sleeps until the file of the download is written or ms have passed.
void DownloadStartWait(Connection& c, int ms);
void DownloadStreamStep(Connection& c);
