// Binds a request to its browser's session once its headers are read, and
// guards the requests that change something against other sites.
#pragma once
#include "page/connection.h"

// At the end of the headers: a login named by the page address stands only
// with the cookie of its session, an attachment only for a browser of its
// owner; anything else is undone, so that the page is refused.
void BindSession(Connection& c);

// The token a form of this request's login carries; false without login.
bool CurrentFormToken(const Connection& c, SessionKeyText& out);
// The POST carried its login's token, and no other site sent it.
bool PostFromOwnPage(const Connection& c);
// A GET that deletes: refused when another site sent it.
bool RequestFromOwnSite(const Connection& c);

// The answer to a refused form: 200 and the message, with the way back.
void StaleFormPage(Connection& c);

// Starts a session for the user the login form named and gives the answer
// its cookie; false when none could be made.
bool OpenSession(Connection& c);
// The logout ends this request's session, and the cookie when no other
// session of the browser needs it.
void CloseSession(Connection& c);
