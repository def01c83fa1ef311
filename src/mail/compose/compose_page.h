// The compose page, the page of a post whose recipients failed the check,
// and the fields of a compose form post.
#pragma once
#include "server/connection.h"

void ShowComposePage(Connection& c);
void ShowAddressError(Connection& c);
// Receives the send_* fields of a posted form.
void StoreSendField(Connection& c, const char* text, int urlencoded);
// Installs the pages, the field handler and the reply form.
void install_compose();
