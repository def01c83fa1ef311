// The pages of the sent-mail log: the list (/mail/sent/index.html), one
// entry with a form to send it again (/mail/sent/NNNN.html), and deletions.
#pragma once
#include "mail/compose/outgoing.h"
#include "page/connection.h"

// The list of the user's log, with checkboxes to delete entries. Sets the
// user's listTime: a deletion posted from an older list is not carried out.
void ShowSentList(Connection& c);

// Entry c.itemNumber. Leaves the entry in c for the resend form: sendTo,
// sendCc, sendBcc and sendSubject hold the logged lists and subject;
// subjectLine, dateLine, fromLine, toLine, ccLine and bccLine hold the
// values of the logged header lines (without the field names); messageText
// the text with LF line ends; uploadCount / uploadNames the attachment names.
// A log that cannot be read gives an empty answer.
void ShowSentMessage(Connection& c);

// A delete link (c.itemNumber < 0, its date text in c.send.sentToken) removes that
// entry when its date still matches; a posted list removes the entries of
// c.deleteList. Then the list.
void SentDelete(Connection& c);

// The links above and below an entry: back to the list, and, when the
// delete_link option is in effect, delete this entry and go back.
void SentLinkRow(Connection& c);
