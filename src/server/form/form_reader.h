// Distributes the fields of a POST body: message text, delete marks, login
// fields, page fields and uploaded files.
#pragma once
#include "page/connection.h"
#include "page/form_reading.h"

// Processes the completed c.line (NUL-terminated in body modes 2 to 6; given
// by c.lineLength in mode 7, file data).
void FormLine(Connection& c);
// Appends one line and a CRLF to c.messageText; a line that does not fit is
// dropped.
void AppendMessage(Connection& c, const char* text);

// Field handlers of the settings, compose and address-book pages. With
// urlencoded 1, text is "name=value"; with 0, c.fieldName holds the name and
// c.receiveBuffer the value line. A value that held a CR, LF or NUL reaches
// the handler cut there, or as further lines, with c.form.valueBroken set during
// the call. A null handler ignores its fields.
using FieldHandler = void (*)(Connection& c, const char* text, int urlencoded);
// The handler of each field family, by the prefix that names the family:
// "user_" (settings and registration), "send_" (compose), "book_" (address
// book). It starts with the pages' own handlers; tests put recorders in.
struct FieldHandlers {
    FieldHandler user;
    FieldHandler send;
    FieldHandler book;
};
FieldHandlers& field_handlers();
extern const FieldHandlers kPageFieldHandlers;
