#include <cstring>

#include "base/charset/base64.h"
#include "base/text/header_token.h"
#include "base/text/text_copy.h"
#include "base/text/text_search.h"
#include "page/form_reading.h"
#include "server/login/login.h"
#include "server/request/forwarded_address.h"
#include "server/request/https_redirect.h"
#include "server/request/request_reader.h"
#include "server/route/route_request.h"

namespace {

bool Starts(const char* line, const char* name) {
    return PrefixEqualNoCase(line, name, static_cast<int>(strlen(name))) == 0;
}

// Basic credentials: "user:password" in base64. The password is all of the
// text after the first colon, so passwords may contain colons.
void ReadAuthorization(Connection& c, const char* value) {
    // Credentials that fail also undo a login carried in the URL.
    c.auth = kAuthRejected;
    c.user = nullptr;
    HeaderToken scheme = NextHeaderToken(value, " ");
    if (!TokenIsNoCase(scheme, "BASIC")) return;
    HeaderToken encoded = NextHeaderToken(scheme.rest, " ");
    // A token of a 4095-byte line decodes to about 3070 bytes.
    int n = base64_decode(c.receiveBuffer, encoded.start, static_cast<int>(encoded.length));
    c.receiveBuffer[n] = '\0';
    const char* colon = strchr(c.receiveBuffer, ':');
    if (colon == nullptr || colon == c.receiveBuffer || colon[1] == '\0') return;
    CopyUntil(c.userName, c.receiveBuffer, ":");
    CopyUntil(c.password, colon + 1, "");
    UserRecord* u = CheckLogin(c);
    if (u != nullptr) {
        c.user = u;
        c.auth = kAuthOk;
    }
}

void ReadContentType(Connection& c, const char* value) {
    const char* delimiters = "; \t\n";
    HeaderToken type = NextHeaderToken(value, delimiters);
    if (!TokenIsNoCase(type, "multipart/form-data")) return;
    HeaderToken parameter = NextHeaderToken(type.rest, delimiters);
    const int prefix = 9; // "boundary="
    if (parameter.length <= static_cast<size_t>(prefix)) return;
    if (PrefixEqualNoCase(parameter.start, "boundary=", prefix) != 0) return;
    // The token ends at a delimiter, which CopyUntil stops at as well.
    c.form.boundary[0] = '-';
    c.form.boundary[1] = '-';
    CopyUntil(c.form.boundary + 2, parameter.start + prefix, delimiters,
              sizeof c.form.boundary - 2);
}

// The session key among the cookies. The __Host- name is the one set over
// HTTPS and wins over a plain one another page may have planted.
void ReadCookie(Connection& c, const char* value) {
    bool secureName = false;
    const char* p = value;
    while (*p) {
        while (*p == ' ' || *p == ';' || *p == '\t') p++;
        const char* eq = strchr(p, '=');
        const char* end = p + strcspn(p, ";");
        if (!eq || eq > end) {
            p = end;
            continue;
        }
        const size_t nameLength = static_cast<size_t>(eq - p);
        const bool plain = nameLength == 7 && strncmp(p, "tarnbox", 7) == 0;
        const bool host = nameLength == 14 && strncmp(p, "__Host-tarnbox", 14) == 0;
        const size_t valueLength = static_cast<size_t>(end - eq - 1);
        if ((plain && !secureName) || host) {
            c.session.cookie[0] = '\0';
            if (valueLength + 1 == sizeof c.session.cookie) {
                memcpy(c.session.cookie, eq + 1, valueLength);
                c.session.cookie[valueLength] = '\0';
            }
            secureName = secureName || host;
        }
        p = end;
    }
}

void ReadFetchSite(Connection& c, const char* value) {
    // Only a request another site made is marked; browsers without the
    // header are judged by the form token alone.
    c.crossSite = PrefixEqualNoCase(value, "cross-site", 10) == 0 ? 1 : 0;
}

} // namespace

void ParseHeaderLine(Connection& c) {
    char* line = c.line;
    if (Starts(line, "GET ")) {
        NoteRequestTarget(c, line + 4);
        RouteRequest(c, line + 4);
    } else if (Starts(line, "HEAD ")) {
        NoteRequestTarget(c, line + 5);
        RouteRequest(c, line + 5);
        c.route = c.route == Route::Static ? Route::StaticHead : Route::NotFound;
    } else if (Starts(line, "Authorization:")) {
        ReadAuthorization(c, SkipBlanks(line + 14));
    } else if (Starts(line, "POST ")) {
        NoteRequestTarget(c, line + 5);
        RouteRequest(c, line + 5);
        c.posted = 1;
        c.form.bodyMode = kBodyPostHeaders;
        c.uploadCount = 0;
    } else if (Starts(line, "Content-length:")) {
        c.bodyRemaining = ParseInt(line + 15);
    } else if (Starts(line, "User-Agent:")) {
        c.browser = DetectBrowser(SkipBlanks(line + 11));
    } else if (Starts(line, "Content-type:")) {
        ReadContentType(c, line + 13);
    } else if (Starts(line, "Host:")) {
        NoteHost(c, line + 5);
    } else if (Starts(line, "Cookie:")) {
        ReadCookie(c, SkipBlanks(line + 7));
    } else if (Starts(line, "Sec-Fetch-Site:")) {
        ReadFetchSite(c, SkipBlanks(line + 15));
    } else if (Starts(line, "X-Forwarded-Proto:")) {
        ReadForwardedProto(c, line + 18);
    } else if (Starts(line, "X-Real-IP:")) {
        // A proxy sends it before the client's own headers, so it is in
        // place before an Authorization header asks the throttle.
        ReadForwardedAddress(c, line + 10);
    }
}
