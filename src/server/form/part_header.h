// Header lines of one part of a multipart body.
#pragma once
#include "page/connection.h"
#include "page/form_reading.h"

// Reads a Content-Disposition line: the part name into c.form.partName and, for a
// file part, the file name into the next c.uploadNames entry, opening the
// upload file. Other header lines are ignored.
void PartHeaderLine(Connection& c, const char* line);
