// The per-user log of sent mail: "<log folder>/<login name>.txl", entries
// oldest first, with ".txw" as the work file of a rewrite and ".txb" as the
// log before the last rewrite.
//
// Appends and deletions of one login name are serialised, so two sends that
// finish together never interleave their entries. A rewrite is written and
// synced in full before it replaces the log; the log is never left half
// written.
#pragma once
#include "mail/compose/outgoing.h"
#include "page/connection.h"

// Appends the message just accepted by the SMTP server: the Date line (its
// text also kept in c.send.dateLine), c.send.subjectLine, fromLine, toLine,
// ccLine and bccLine (the last two only when sendCc / sendBcc are set), an
// "X-Files" line per upload name, an empty line, the lines of c.messageText
// (a line "." is written as "..") and ".". When the log was not empty before
// and has grown past log_size_kb of the basic settings, its oldest entry is
// removed (c.deleteList is used for that). A log that cannot be written leaves
// the message unlogged and nothing else changed.
void AppendSentLog(Connection& c);

// Removes entries by copying the log without them. byDate false: the entries
// numbered in c.deleteList (ascending, separated by "," or blanks). byDate
// true: entry c.itemNumber, only when the text of its Date line begins with
// c.send.dateLine (ignoring ASCII case). The old log becomes the backup; when
// no entry is left there is no log. Does nothing when the log is missing or
// the work file cannot be written.
void DeleteSentEntries(Connection& c, bool byDate);
