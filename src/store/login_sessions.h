// Live logins of form-login users. A login is bound to the browser that made
// it: the check number in the page addresses names the session, and a cookie
// holding a random key proves the request comes from that browser, so an
// address that leaks (Referer, history, a proxy log) opens nothing. A user
// may hold several sessions at once (a second browser, a phone); each ends
// with its own logout or when no list was shown for an hour.
#pragma once
#include <cstddef>
#include <cstdint>

// 128 bits from the system's random source, as 32 hex digits.
constexpr size_t kSessionKeyBytes = 16;
constexpr size_t kSessionKeyText = 2 * kSessionKeyBytes + 1;
constexpr int64_t kSessionIdleSeconds = 3600;
// More logins than this evict the one idle longest.
constexpr int kMaxSessions = 512;

struct SessionKeyText {
    char text[kSessionKeyText] = {};
};

struct SessionGrant {
    int32_t check = 0;
    SessionKeyText cookie;
};

// Starts a session for user at local time now. The browser's cookie is kept
// when it already belongs to a live session of the same user, so a second
// login in one browser leaves the first tab's pages working. False when the
// random source fails.
bool session_open(const char* user, const char* presented_cookie, int64_t now, SessionGrant& out);

// The session named by (user, check) is live and cookie is its key.
bool session_valid(const char* user, int32_t check, const char* cookie, int64_t now);
// The session is live, whatever browser asks (a provider's redirect back
// carries no cookie of a strict site).
bool session_live(const char* user, int32_t check, int64_t now);
// Some live session of user has this cookie (the browser's own attachments).
bool session_of_browser(const char* user, const char* cookie, int64_t now);

// A list was shown: the session's idle time starts again.
void session_touch(const char* user, int32_t check, int64_t now);
// Ends the session; true when another live session still uses its cookie.
bool session_close(const char* user, int32_t check, int64_t now);
void session_close_user(const char* user);
void session_close_all();

// The token the forms of a session carry; false when there is none.
bool session_form_token(const char* user, int32_t check, SessionKeyText& out);
// For browser authentication, which has no session: a token derived from the
// user name under a key made when the gateway started.
void basic_form_token(const char* user, SessionKeyText& out);

// Puts in a session whose number and key are known already; tests use it
// to stand for a login made before.
void session_insert(const char* user, int32_t check, const char* cookie, int64_t list_time,
                    const char* form_token = nullptr);

// Compares two key texts in time independent of where they differ.
bool session_key_equal(const char* a, const char* b);
