#include "store/login_sessions.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <sys/random.h>

namespace {

constexpr size_t kUserNameSize = 40;

struct Session {
    char user[kUserNameSize];
    int32_t check;
    int64_t listTime;
    SessionKeyText cookie;
    SessionKeyText form;
};

// The table is its own small world: nothing else is locked while its mutex
// is held, and no call under it waits on anything.
std::mutex tableLock;
Session table[kMaxSessions];

bool RandomBytes(unsigned char* out, size_t n) {
    size_t got = 0;
    while (got < n) {
        ssize_t r = getrandom(out + got, n - got, 0);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        got += static_cast<size_t>(r);
    }
    return true;
}

void HexText(const unsigned char* bytes, SessionKeyText& out) {
    static const char digits[] = "0123456789abcdef";
    for (size_t i = 0; i < kSessionKeyBytes; i++) {
        out.text[2 * i] = digits[bytes[i] >> 4];
        out.text[2 * i + 1] = digits[bytes[i] & 15];
    }
    out.text[2 * kSessionKeyBytes] = '\0';
}

bool RandomKey(SessionKeyText& out) {
    unsigned char bytes[kSessionKeyBytes];
    if (!RandomBytes(bytes, sizeof bytes)) return false;
    HexText(bytes, out);
    return true;
}

bool Live(const Session& s, int64_t now) {
    return s.check != 0 && now < s.listTime + kSessionIdleSeconds;
}

bool SameUser(const Session& s, const char* user) {
    return strncmp(s.user, user, kUserNameSize) == 0;
}

Session* Find(const char* user, int32_t check, int64_t now) {
    if (check == 0 || !user) return nullptr;
    for (Session& s : table)
        if (s.check == check && SameUser(s, user) && Live(s, now)) return &s;
    return nullptr;
}

// A free slot, else the one idle longest.
Session& FreeSlot(int64_t now) {
    Session* oldest = &table[0];
    for (Session& s : table) {
        if (!Live(s, now)) return s;
        if (s.listTime < oldest->listTime) oldest = &s;
    }
    return *oldest;
}

bool CheckInUse(int32_t check, const char* user, int64_t now) {
    return Find(user, check, now) != nullptr;
}

bool CookieInUse(const char* user, const char* cookie, int64_t now, const Session* besides) {
    if (!cookie || !cookie[0]) return false;
    for (const Session& s : table)
        if (&s != besides && SameUser(s, user) && Live(s, now) &&
            session_key_equal(s.cookie.text, cookie))
            return true;
    return false;
}

bool NewCheck(const char* user, int64_t now, int32_t& check) {
    for (int attempt = 0; attempt < 16; attempt++) {
        uint32_t value = 0;
        if (!RandomBytes(reinterpret_cast<unsigned char*>(&value), sizeof value)) return false;
        check = static_cast<int32_t>(value & 0x7FFFFFFF);
        if (check != 0 && !CheckInUse(check, user, now)) return true;
    }
    return false;
}

bool WellFormedKey(const char* text) {
    if (!text || strlen(text) != 2 * kSessionKeyBytes) return false;
    for (const char* p = text; *p; p++)
        if (!((*p >= '0' && *p <= '9') || (*p >= 'a' && *p <= 'f'))) return false;
    return true;
}

const unsigned char* BasicKey() {
    static unsigned char key[32];
    static bool made = [] { return RandomBytes(key, sizeof key); }();
    (void)made;
    return key;
}

} // namespace

bool session_key_equal(const char* a, const char* b) {
    if (!a || !b) return false;
    unsigned diff = 0;
    for (size_t i = 0; i < kSessionKeyText; i++) {
        diff |= static_cast<unsigned char>(a[i]) ^ static_cast<unsigned char>(b[i]);
        if (a[i] == '\0' || b[i] == '\0') break;
    }
    return diff == 0 && a[0] != '\0';
}

bool session_open(const char* user, const char* presented_cookie, int64_t now, SessionGrant& out) {
    if (!user || !user[0] || strlen(user) >= kUserNameSize) return false;
    std::lock_guard<std::mutex> hold(tableLock);
    SessionKeyText cookie, form;
    if (WellFormedKey(presented_cookie) && CookieInUse(user, presented_cookie, now, nullptr)) {
        memcpy(cookie.text, presented_cookie, kSessionKeyText);
    } else if (!RandomKey(cookie)) {
        return false;
    }
    int32_t check = 0;
    if (!RandomKey(form) || !NewCheck(user, now, check)) return false;
    Session& s = FreeSlot(now);
    s = Session{};
    memcpy(s.user, user, strlen(user) + 1);
    s.check = check;
    s.listTime = now;
    s.cookie = cookie;
    s.form = form;
    out.check = check;
    out.cookie = cookie;
    return true;
}

void session_insert(const char* user, int32_t check, const char* cookie, int64_t list_time,
                    const char* form_token) {
    if (!user || strlen(user) >= kUserNameSize || check == 0) return;
    std::lock_guard<std::mutex> hold(tableLock);
    Session& s = FreeSlot(list_time);
    s = Session{};
    memcpy(s.user, user, strlen(user) + 1);
    s.check = check;
    s.listTime = list_time;
    if (cookie) snprintf(s.cookie.text, sizeof s.cookie.text, "%s", cookie);
    if (form_token)
        snprintf(s.form.text, sizeof s.form.text, "%s", form_token);
    else
        RandomKey(s.form);
}

bool session_valid(const char* user, int32_t check, const char* cookie, int64_t now) {
    std::lock_guard<std::mutex> hold(tableLock);
    const Session* s = Find(user, check, now);
    return s && session_key_equal(s->cookie.text, cookie);
}

bool session_live(const char* user, int32_t check, int64_t now) {
    std::lock_guard<std::mutex> hold(tableLock);
    return Find(user, check, now) != nullptr;
}

bool session_of_browser(const char* user, const char* cookie, int64_t now) {
    std::lock_guard<std::mutex> hold(tableLock);
    return user && CookieInUse(user, cookie, now, nullptr);
}

void session_touch(const char* user, int32_t check, int64_t now) {
    std::lock_guard<std::mutex> hold(tableLock);
    if (Session* s = Find(user, check, now)) s->listTime = now;
}

bool session_close(const char* user, int32_t check, int64_t now) {
    std::lock_guard<std::mutex> hold(tableLock);
    Session* s = Find(user, check, now);
    if (!s) return false;
    const SessionKeyText cookie = s->cookie;
    s->check = 0;
    return CookieInUse(user, cookie.text, now, s);
}

void session_close_user(const char* user) {
    std::lock_guard<std::mutex> hold(tableLock);
    for (Session& s : table)
        if (SameUser(s, user)) s.check = 0;
}

void session_close_all() {
    std::lock_guard<std::mutex> hold(tableLock);
    for (Session& s : table) s.check = 0;
}

bool session_form_token(const char* user, int32_t check, SessionKeyText& out) {
    std::lock_guard<std::mutex> hold(tableLock);
    // The token outlives the idle time by nothing: a form of an ended
    // session is refused anyway.
    for (const Session& s : table)
        if (s.check == check && check != 0 && SameUser(s, user)) {
            out = s.form;
            return true;
        }
    return false;
}

void basic_form_token(const char* user, SessionKeyText& out) {
    unsigned char mac[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    HMAC(EVP_sha256(), BasicKey(), 32, reinterpret_cast<const unsigned char*>(user), strlen(user),
         mac, &length);
    HexText(mac, out);
}
