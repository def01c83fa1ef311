// Pieces the sent-log operations share.
#pragma once
#include "mail/sent/sent_files.h"
#include "mail/sent/sent_line_reader.h"
#include "page/connection.h"

// The filter copy behind DeleteSentEntries, for a caller that already holds
// sent_log_mutex of the user.
void sent_filter_copy(Connection& c, const SentLogPaths& paths, bool byDate);
