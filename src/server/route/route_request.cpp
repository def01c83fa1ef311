#include "server/route/route_request.h"
#include "base/charset/detect.h"
#include "base/charset/sjis.h"
#include "base/date/local_seconds.h"
#include "base/global_lock.h"
#include "base/text/char_class.h"
#include "base/text/percent_decode.h"
#include "base/text/sjis_pair.h"
#include "base/text/text_copy.h"
#include "base/text/text_search.h"
#include "mail/book/book_state.h"
#include "mail/compose/outgoing.h"
#include "page/output/style_sheet.h"
#include "server/files/file_answer.h"
#include "server/files/static_file.h"
#include "server/oauth/oauth_pages.h"
#include "server/remote/remote_page.h"
#include "store/data_file.h"
#include <cstdio>
#include <cstring>
#include <mutex>
#include <sys/mman.h>
#include <unistd.h>

namespace {

// An attachment request waits for a running exchange of its user; a flag left
// set by a lost worker must not hold the request thread for ever.
constexpr int kBusyWaitLimitMs = 600 * 1000;

using Token = char[kLineSize];

bool IsDelimiter(char ch, const char* delimiters) {
    return ch != '\0' && strchr(delimiters, ch) != nullptr;
}

// Skips leading delimiters and copies the next token; false when none is left.
bool NextToken(const char*& p, Token& out, const char* delimiters = " /") {
    while (IsDelimiter(*p, delimiters)) p++;
    if (*p == '\0') return false;
    p = CopyUntil(out, p, delimiters);
    return true;
}

// The first byte of s that is one of delimiters (the NUL at worst); steps over
// Shift_JIS pairs.
const char* SpanEnd(const char* s, const char* delimiters) {
    while (*s && !IsDelimiter(*s, delimiters)) s += TextCharLength(s);
    return s;
}

bool IsSetLetter(char ch) {
    return ch == 'a' || ch == 'b' || ch == 'c';
}

// Percent-decodes text into a field without splitting a two-byte character.
template <size_t N> void DecodeInto(char (&field)[N], const char* text) {
    Token decoded;
    PercentDecode(decoded, text, sizeof decoded);
    sjis_copy(field, decoded);
}

UserRecord* LockedFindUser(const char* id) {
    std::lock_guard<std::recursive_mutex> hold(globalLock);
    return find_user(data_store().users, id);
}

// "?delete=" of a list link: [letter] number, one separator, token up to ",".
void ParseListDelete(Connection& c, const char* text) {
    Token raw, decoded;
    // A literal "?" begins the next parameter; one inside the token is escaped.
    CopyUntil(raw, text, "?");
    PercentDecode(decoded, raw, sizeof decoded);
    const char* p = decoded;
    if (IsSetLetter(*p)) c.settingsIndex = static_cast<int16_t>(*p++ - 'a');
    if (!IsDigit(static_cast<unsigned char>(*p))) return;
    const char* end = p;
    c.itemNumber = -ParseInt(p, &end);
    if (*end) end++;
    CopyUntil(c.deleteList, end, ",");
}

void ParseWrite(Connection& c, const char*& p) {
    c.route = Route::Write;
    c.send.linkTo[0] = '\0';
    Token next;
    if (!NextToken(p, next)) return;
    if (!data_store().settings.multiple_addresses) {
        if (strncmp(next, "index.html?to=", 14) == 0) CopyUntil(c.send.linkTo, next + 14, "?");
        return;
    }
    if (strncmp(next, "index", 5) != 0) return;
    const char* q = next + 5;
    if (*q >= '1' && *q <= '3') c.settingsIndex = static_cast<int16_t>(*q++ - '1');
    if (strncmp(q, ".html?to=", 9) == 0) CopyUntil(c.send.linkTo, q + 9, "?");
}

void ParseSetup(Connection& c, const char*& p) {
    c.route = Route::Setup;
    Token next;
    if (!data_store().settings.multiple_addresses || !NextToken(p, next)) return;
    const char* digit = nullptr;
    if (strncmp(next, "index", 5) == 0) {
        digit = next + 5;
    } else if (strncmp(next, "delete", 6) == 0) {
        c.route = Route::SetupDelete;
        digit = next + 6;
    }
    if (digit && (*digit == '2' || *digit == '3'))
        c.settingsIndex = static_cast<int16_t>(*digit - '1');
}

// "?back=" value up to the next "?", then an optional "?add=" value. Both
// stop at a blank too: without a login query the protocol word follows.
void ParseBook(Connection& c, const char* rest) {
    c.route = Route::Book;
    const char* back = strstr(rest, "?back=");
    if (!back) return;
    back += 6;
    CopyUntil(c.book.back, back, "? ");
    const char* end = SpanEnd(back, "? ");
    if (c.book.back[0] == '\0' || strncmp(end, "?add=", 5) != 0) return;
    Token raw;
    CopyUntil(raw, end + 5, "? ");
    DecodeInto(c.book.add, raw);
}

void ParseSent(Connection& c, const char*& p) {
    c.route = Route::Sent;
    Token next;
    if (!NextToken(p, next)) return;
    if (IsDigit(static_cast<unsigned char>(next[0]))) {
        c.itemNumber = ParseInt(next);
        return;
    }
    if (strncmp(next, "index.html?delete=", 18) != 0) return;
    Token decoded;
    PercentDecode(decoded, next + 18, sizeof decoded);
    if (!IsDigit(static_cast<unsigned char>(decoded[0]))) return;
    const char* end = decoded;
    c.itemNumber = -ParseInt(decoded, &end);
    if (*end) end++;
    CopyUntil(c.send.sentToken, end, ".?");
}

void ParseLogout(Connection& c, const char*& p) {
    c.route = Route::Logout;
    const char* start = p;
    while (IsDelimiter(*start, " /")) start++;
    Token next, name;
    if (!NextToken(p, next)) return;
    CopyUntil(name, next, "?");
    if (strcmp(name, "index.html") == 0) return;
    // Pages of a custom logout.html refer to their pictures relatively.
    int fd = StaticLookup(c.download.path, sizeof c.download.path, start);
    if (fd < 0) return;
    if (!serviceActive) {
        close(fd);
        return;
    }
    c.file = fd;
    c.auth = kAuthOk;
    c.route = Route::Static;
}

// A user name or stored file name that could leave the user's temp folder
// never names an attachment.
bool SafeName(const char* name) {
    return name[0] && strcmp(name, ".") != 0 && strcmp(name, "..") != 0 && !strchr(name, '/');
}

// "/mail/~user/name": the user's current attachment of that name.
void ParseAttachment(Connection& c, const char* c2, const char*& p) {
    c.route = Route::NotFound;
    if (c2[0] != '~' || !SafeName(c2 + 1)) return;
    UserRecord* u = LockedFindUser(c2 + 1);
    if (!u) return;
    Token raw, name;
    if (!NextToken(p, raw, "/")) return;
    size_t n = strlen(raw);
    if (n >= 5 && strcmp(raw + n - 5, " HTTP") == 0) raw[n - 5] = '\0';
    PercentDecodeUtf8(name, raw, sizeof name);
    convert_to_sjis(name, static_cast<int>(strlen(name)), kCodeDetect);
    if (name[0] == '\0') return;
    UserRuntime& rt = u->runtime;
    rt.busy.WaitFree(kBusyWaitLimitMs);
    int count = rt.attachmentCount;
    if (count > kMaxAttachments) count = kMaxAttachments;
    for (int i = 0; i < count; i++) {
        const AttachmentEntry& a = rt.attachments[i];
        if (strcmp(name, a.file_name) == 0 || strcmp(name, a.message_name) == 0) {
            c.route = Route::Attachment;
            c.auth = kAuthOk;
            c.itemNumber = i;
            c.user = u;
            // Only a browser of the owner gets it: BindSession decides.
            c.session.attachmentOwner = u;
            c.session.pending = kSessionFromAttachment;
            return;
        }
    }
}

// Everything after "/mail".
void RouteMail(Connection& c, const char* p) {
    c.route = Route::Mail;
    Token c2;
    if (!NextToken(p, c2)) return;
    c.settingsIndex = 0;
    const char* t = c2;
    // A settings letter only prefixes a message number: "book" is no letter b.
    if (IsSetLetter(t[0]) && IsDigit(static_cast<unsigned char>(t[1]))) {
        c.settingsIndex = static_cast<int16_t>(t[0] - 'a');
        t++;
    }
    if (IsDigit(static_cast<unsigned char>(*t))) {
        c.itemNumber = ParseInt(t);
        const char* dot = FindLastChar(c2, '.');
        if (dot && strncmp(dot + 1, "txt", 3) == 0) c.route = Route::MailAsText;
    } else if (strncmp(c2, "index.html", 10) == 0) {
        const char* q = c2 + 10;
        if (*q == '#') {
            q++;
            if (IsSetLetter(*q)) q++;
            while (IsDigit(static_cast<unsigned char>(*q))) q++;
        }
        if (strncmp(q, "?delete=", 8) == 0) ParseListDelete(c, q + 8);
    } else if (strcmp(c2, "write") == 0) {
        ParseWrite(c, p);
    } else if (strcmp(c2, "new") == 0) {
        c.route = Route::NewUser;
    } else if (strcmp(c2, "setup") == 0) {
        ParseSetup(c, p);
    } else if (strcmp(c2, "book") == 0) {
        ParseBook(c, p);
    } else if (strcmp(c2, "oauth") == 0) {
        while (*p == '/') p++;
        oauth_route(c, p);
    } else if (strcmp(c2, "sent") == 0) {
        ParseSent(c, p);
    } else if (strcmp(c2, "logout") == 0 &&
               (!data_store().settings.browser_auth || data_store().settings.close_browser)) {
        ParseLogout(c, p);
    } else if (strcmp(c2, "HTTP") == 0) {
        // "/mail/" itself: the list.
    } else {
        ParseAttachment(c, c2, p);
    }
}

// The stylesheet lives in the program, handed out as a file of its own.
bool StyleSheet(Connection& c, const char* path) {
    const std::string& name = style_sheet_path();
    if (strncmp(path, name.c_str(), name.size()) != 0) return false;
    const char end = path[name.size()];
    if (end != '\0' && end != ' ' && end != '?') return false;
    const int fd = memfd_create("tarnbox-style", MFD_CLOEXEC);
    if (fd < 0) return false;
    const std::string& text = style_sheet_text();
    if (write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size()) ||
        lseek(fd, 0, SEEK_SET) != 0) {
        close(fd);
        return false;
    }
    snprintf(c.download.path, sizeof c.download.path, "%s", name.c_str());
    c.file = fd;
    c.auth = kAuthOk;
    c.route = Route::Static;
    return true;
}

void StaticFallback(Connection& c, const char* path) {
    if (c.route != Route::NotFound || path[0] != '/') return;
    if (StyleSheet(c, path)) return;
    if (strncmp(path, "/back/", 6) == 0) {
        int fd = BackgroundLookup(c.download.path, sizeof c.download.path);
        if (fd < 0) return;
        c.file = fd;
        c.route = Route::Static;
        return;
    }
    if (!serviceActive) return;
    int fd = StaticLookup(c.download.path, sizeof c.download.path, path + 1);
    if (fd < 0) return;
    c.file = fd;
    c.auth = kAuthOk;
    c.route = Route::Static;
}

} // namespace

void ParseQuery(Connection& c, char* path) {
    Token raw;
    bool named = false;
    int check = 0;
    for (char* q = strchr(path, '?'); q; q = strchr(q + 1, '?')) {
        if (strncmp(q + 1, "user=", 5) == 0) {
            *q = '\0';
            // The name ends at the next parameter, or at the protocol word
            // when it is the last one.
            CopyUntil(raw, q + 6, "? ");
            named = true;
        } else if (strncmp(q + 1, "check=", 6) == 0) {
            if (IsDigit(static_cast<unsigned char>(q[7]))) check = ParseInt(q + 7);
        } else if (strncmp(q + 1, "lang=en", 7) == 0) { // "en" as well as "eng"
            c.english = 1;
        } else if (strncmp(q + 1, "images", 6) == 0 && (q[7] == '?' || q[7] == ' ' || !q[7])) {
            c.showImages = 1;
        }
    }
    if (named && !data_store().settings.browser_auth) {
        Token name;
        // Browsers escape the bytes of a Shift_JIS name in the query.
        PercentDecode(name, raw, sizeof name);
        UserRecord* u = strlen(name) < sizeof c.userName ? LockedFindUser(name) : nullptr;
        // The cookie that proves the session comes with the later headers;
        // BindSession undoes this login when it does not.
        if (u && session_live(name, check, local_seconds())) {
            c.user = u;
            c.auth = kAuthOk;
            c.session.check = check;
            c.session.pending = kSessionFromAddress;
            sjis_copy(c.userName, name);
            snprintf(c.loginQuery, sizeof c.loginQuery, "?user=%s?check=%d", c.userName, check);
        }
    }
    if (c.english) {
        size_t n = strlen(c.loginQuery);
        snprintf(c.loginQuery + n, sizeof c.loginQuery - n, "?lang=eng");
    }
}

void RouteRequest(Connection& c, char* path) {
    c.route = Route::NotFound;
    ParseQuery(c, path);
    const BasicSettings& s = data_store().settings;
    const char* p = path;
    Token c1, c1q;
    if (NextToken(p, c1)) {
        CopyUntil(c1q, c1, "?");
        // "/" itself, also when only a query follows it ("/?lang=eng").
        bool root = strcmp(c1q, "HTTP") == 0 || c1q[0] == '\0';
        if (strcmp(c1q, s.top_page) == 0 || (root && strcmp(s.top_page, "index.html") == 0)) {
            if (serviceActive) c.route = Route::Top;
            return;
        }
        if (strcmp(c1, "remote") == 0 && s.remote_control) {
            c.route = Route::Remote;
        } else if (strcmp(c1, "mail") == 0 && serviceActive) {
            RouteMail(c, p);
            return;
        }
    }
    StaticFallback(c, path);
}
