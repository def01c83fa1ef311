// What a reply takes from the displayed message: whom it goes to, its
// subject, who else was addressed; and the signature a redisplayed text
// must not carry twice.
#pragma once
#include "page/connection.h"
#include <string>

// The bare address a reply goes to: the "?to=" value of a compose link, else
// the displayed message's Reply-To, else its From. Empty when none is set.
std::string ReplyAddress(const Connection& c);
// "Re: " and the displayed subject, without a leading "[list tag]" and
// without doubling an existing "Re:". Unchanged on the sent-mail page.
std::string ReplySubject(const Connection& c, bool sentPage);
// The other addresses of the displayed message's To and Cc lists (the
// user's own address left out). test: true when there is anyone to add;
// collect: the addresses joined with ",".
bool OtherRecipientsExist(const Connection& c);
std::string OtherRecipients(const Connection& c);
// Cuts c.messageText where the set's signature begins (and the CR LF in
// front of it).
void StripSignature(Connection& c);
