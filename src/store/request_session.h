// The browser's session as one request shows it. cookie is the key its
// Cookie header sent; check the check number of the address that named a
// session, which the cookie must prove at the end of the headers (pending
// says what waits for that proof; attachmentOwner is the user whose
// attachment was asked for). postedToken is the form token of a POST;
// cookieToSet and cookieClear go out with the answer's headers.
#pragma once
#include "store/login_sessions.h"
#include <cstdint>

struct UserRecord;

struct RequestSession {
    char cookie[kSessionKeyText];
    char postedToken[kSessionKeyText];
    char cookieToSet[kSessionKeyText];
    int32_t check;
    uint8_t pending;
    uint8_t cookieClear;
    UserRecord* attachmentOwner;
};
