// The DATA stream of a posted compose form: header block, text, uploaded
// files, and the final ".". Nothing is assembled in memory; every piece goes
// out through one staging buffer as soon as it is formed.
#pragma once
#include "mail/compose/outgoing.h"
#include "mail/net/mail_link.h"
#include "page/connection.h"
#include <string>

// Forms c.send.subjectLine and c.send.fromLine from the post and the sender's
// settings set (the result page and the sent log show them as held).
void FormSenderLines(Connection& c);

// Writes the whole message into c.mail.socket (or into capture, for tests).
// Upload files are read once and deleted.
void ComposeMessage(Connection& c, std::string* capture = nullptr);

// The extension the content headers of an upload are chosen by: the text
// after the last "." of name, empty when a "/", "\" or ":" comes first, the
// whole name when neither occurs.
const char* UploadExtension(const char* name);

// Path of upload n of the connection's user: temp/<user>/<user>.<n>. Empty
// when the login name could name another folder.
std::string UploadPath(const Connection& c, int n);
// Removes the upload files a post left behind (a send that ended before its
// message went out, or a form that was shown again).
void RemoveUploads(Connection& c);
