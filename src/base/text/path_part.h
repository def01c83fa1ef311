// Pieces of file paths. Both "/" and "\" separate folders: paths come from the
// local file system and from browsers on other systems. The scans step over
// Shift_JIS pairs, whose second byte may be 0x5C ("\").
#pragma once

// Cuts path in place at its last "." that follows the last folder separator.
// Returns 1 when cut, 0 when there is no extension.
int StripExtension(char* path);

// The text after the last "." of path; empty (the terminating NUL) when there is
// no "." or when a "\", "/" or ":" follows the last one.
const char* Extension(const char* path);

// The text after the last "\", "/" or ":" of path; all of path when there is none.
const char* FileNamePart(const char* path);

// Cuts path in place at its last folder separator, leaving the folder.
// Returns 1 when cut, 0 (path unchanged) when there is no separator.
int FolderPart(char* path);
