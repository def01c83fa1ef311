#include "page/output/send_status.h"

#include <cstdio>
#include <ctime>

#include "base/date/response_date.h"
#include "page/output/page_policy.h"

namespace {
constexpr const char* kVersionText = "1.51";
}

void SendStatus(Connection& c, int code) {
    c.statusSent = 1;
    // MSIE replaces a short 404 page with its own; as a 200 the page's text shows.
    if (code == 404 && (c.browser & kBrowserMsie)) code = 200;
    switch (code) {
    case 401:
        SendRaw(c, "HTTP/1.0 401 Unauthorized\r\n");
        break;
    case 404:
        SendRaw(c, "HTTP/1.0 404 File Not Found\r\n");
        break;
    case 405:
        SendRaw(c, "HTTP/1.0 405 Method Not Allowed\r\n");
        break;
    case 201:
        SendRaw(c, "HTTP/1.0 200 OK\r\n");
        break;
    default:
        // Anything unexpected still gets a well-formed answer.
        code = 200;
        SendRaw(c, "HTTP/1.0 200 OK\r\n");
        break;
    }

    SendSafetyLines(c, true);

    char date[kResponseDateSize];
    if (response_date(date, time(nullptr)) < 0) date[0] = '\0';
    char line[64 + kResponseDateSize];
    int n = snprintf(line, sizeof line, "Date: %s\r\n", date);
    SendRaw(c, line, static_cast<size_t>(n));
    n = snprintf(line, sizeof line, "Server: Tarnbox %.4s\r\n", kVersionText);
    SendRaw(c, line, static_cast<size_t>(n));
    SendRaw(c, "Connection: close\r\n");
    if (code == 405) SendRaw(c, "Allow: GET, HEAD\r\n");
    if (code == 201) {
        SendRaw(c, "Content-Type: application/octet-stream\r\n");
        SendRaw(c, "Content-Disposition: attachment\r\n");
    } else {
        // Without the charset, browsers guess windows-1252 for pages that
        // arrive slowly.
        SendRaw(c, "Content-type: text/html; charset=Shift_JIS\r\n");
    }
    if (code == 200) {
        n = snprintf(line, sizeof line, "Last-Modified: %s\r\n", date);
        SendRaw(c, line, static_cast<size_t>(n));
        SendRaw(c, "Expires: -1\r\n");
        SendRaw(c, "Pragma: no-cache\r\n");
        // Back after a logout must not show the last user's mail again.
        SendRaw(c, "Cache-Control: no-store\r\n");
    }
    SendRaw(c, "\r\n");
}

namespace {

// The session cookie of a login, or its end at logout. Over HTTPS it takes
// the __Host- name, which a browser keeps only when Secure, for this host
// and path / alone, so no neighbour on the domain can plant or widen it.
void SendSessionCookie(Connection& c) {
    if (!c.session.cookieToSet[0] && !c.session.cookieClear) return;
    const bool secure = c.client.tls != nullptr || c.proxiedHttps;
    char line[160];
    int n = snprintf(
        line, sizeof line, "Set-Cookie: %s=%s; Path=/; HttpOnly; SameSite=Strict%s%s\r\n",
        secure ? "__Host-tarnbox" : "tarnbox", c.session.cookieClear ? "" : c.session.cookieToSet,
        secure ? "; Secure" : "", c.session.cookieClear ? "; Max-Age=0" : "");
    SendRaw(c, line, static_cast<size_t>(n));
    c.session.cookieToSet[0] = '\0';
    c.session.cookieClear = 0;
}

} // namespace

void SendSafetyLines(Connection& c, bool page) {
    SendSessionCookie(c);
    // Only over TLS: a browser ignores the line on plain HTTP anyway, and a
    // gateway reached by plain HTTP alone must not be told to need HTTPS.
    // Without includeSubDomains: other hosts of the domain are not ours.
    if (c.client.tls) SendRaw(c, "Strict-Transport-Security: max-age=31536000\r\n");
    // The pages show mail from anybody inside the gateway's own origin: no
    // address of a page (with its login) leaks to a link or image of a mail,
    // no answer is read as another type than it says, no other site frames
    // a page, and no form posts anywhere but here.
    SendRaw(c, "Referrer-Policy: no-referrer\r\n");
    SendRaw(c, "X-Content-Type-Options: nosniff\r\n");
    SendRaw(c, "X-Frame-Options: DENY\r\n");
    // A generated page runs only its own scripts and loads nothing from
    // elsewhere; files (the administrator's own pages, downloads) keep the
    // frame and form rules alone.
    if (page) {
        const std::string line = "Content-Security-Policy: " + page_policy(c.showImages) + "\r\n";
        SendRaw(c, line.data(), line.size());
    } else {
        SendRaw(c, "Content-Security-Policy: frame-ancestors 'none'; form-action 'self'; "
                   "base-uri 'none'; object-src 'none'\r\n");
    }
}
