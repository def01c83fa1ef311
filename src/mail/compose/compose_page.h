// The compose page, the page of a post whose recipients failed the check,
// and the fields of a compose form post.
#pragma once
#include "page/connection.h"

void ShowComposePage(Connection& c);
void ShowAddressError(Connection& c);
// Receives the send_* fields of a posted form.
void StoreSendField(Connection& c, const char* text, int urlencoded);
// The reply form at the end of a message page.
void WriteReplyForm(Connection& c);
