// The status line and header block of a generated answer.
#pragma once
#include "page/connection.h"

// code is 200, 201 (a 200 whose body is a download), 401, 404 or 405. A 404
// to MSIE goes out as 200 so that it shows the page's own text.
void SendStatus(Connection& c, int code);
// Right after a status line written by hand: the header lines every answer
// carries (referrer, type sniffing, framing and form targets), and HSTS
// over TLS, and the session cookie when the answer sets or ends one. page:
// the answer is a generated page, which gets the whole script and load policy.
void SendSafetyLines(Connection& c, bool page = false);
