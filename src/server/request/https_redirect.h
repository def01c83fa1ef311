// With `serve --https-redirect`, the plain listener only sends browsers on
// to the HTTPS one (301 to the same path), so that nobody types a password
// into a page that came in clear.
#pragma once
#include "page/connection.h"

// The HTTPS port to send plain requests to, 0 when they are served; and the
// host name to use when a request names none (empty: serve such a request).
// Set before the listeners start.
void SetHttpsRedirect(int port, const char* fallbackHost);

// Header lines the answer needs: the request target and the Host value.
void NoteRequestTarget(Connection& c, const char* target);
void NoteHost(Connection& c, const char* value);

// At the end of the request headers: writes the redirect and returns true
// when this plain request is to be sent on.
bool RedirectToHttps(Connection& c);
