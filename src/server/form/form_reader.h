// Distributes the fields of a POST body: message text, delete marks, login
// fields, page fields and uploaded files.
#pragma once
#include "server/connection.h"

// Processes the completed c.line (NUL-terminated in body modes 2 to 6; given
// by c.lineLength in mode 7, file data).
void FormLine(Connection& c);
// Appends one line and a CRLF to c.messageText; a line that does not fit is
// dropped.
void AppendMessage(Connection& c, const char* text);

// Field handlers of the settings, compose and address-book pages. With
// urlencoded 1, text is "name=value"; with 0, c.scratch holds the name and
// c.receiveBuffer the value line. A value that held a CR, LF or NUL reaches
// the handler cut there, or as further lines, with c.valueBroken set during
// the call. Pages install theirs at start-up; until then the fields are
// ignored.
using FieldHandler = void (*)(Connection& c, const char* text, int urlencoded);
// Splits urlencoded field text "name=value": copies the name into name
// (capacity bytes with its NUL) and returns the value, or null when there is
// no "=" or the name does not fit.
const char* SplitField(const char* text, char* name, size_t capacity);
extern FieldHandler UserField;
extern FieldHandler SendField;
extern FieldHandler BookField;
