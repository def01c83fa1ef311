// Uploaded files of a multipart body, written to temp/<user>/<user>.<n>.
#pragma once
#include "page/connection.h"

// Creates the file for upload c.uploadCount and makes it c.file; on success
// the count grows. Only a logged-in request (c.user set, c.userName its id)
// whose name is a plain file name gets a file; otherwise, or when the folder
// or file cannot be made, c.file stays -1 and the part's data is dropped.
void OpenUpload(Connection& c);
// Writes one piece of file data (a line with its line end, or 4095 bytes of
// a longer line). The line end in front of the closing boundary belongs to
// the framing, so each CRLF is held back until more data follows.
void WriteUploadPiece(Connection& c, const char* data, int length);
// Closes c.file if it is open.
void CloseUpload(Connection& c);
