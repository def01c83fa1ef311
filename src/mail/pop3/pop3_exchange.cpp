// The command state machine: reply lines in, the next command out.
#include "base/charset/sjis.h"
#include "base/date/local_seconds.h"
#include "base/socket_stream.h"
#include "base/text/command_text.h"
#include "mail/list/list_state.h"
#include "mail/list/received_list.h"
#include "mail/mime/mime_parser.h"
#include "mail/mime/mime_state.h"
#include "mail/net/mail_link.h"
#include "mail/net/mail_tls.h"
#include "mail/oauth/oauth_client.h"
#include "mail/pop3/pop3_client.h"
#include "mail/pop3/pop3_state.h"
#include "mail/view/message_view.h"
#include "mail/view/view_state.h"
#include "page/output/send_status.h"
#include "store/mail_security.h"
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <openssl/evp.h>
#include <poll.h>
#include <string>
#include <strings.h>
#include <sys/socket.h>

namespace {

// Asked of every line of a large message: the first byte settles most.
bool starts_with(const char* text, const char* prefix) {
    if (prefix[0] != '\0' && text[0] != prefix[0]) return false;
    return strncmp(text, prefix, strlen(prefix)) == 0;
}

// A line cut at the end of the buffer must not end in half a two-byte
// character.
void drop_split_character(Connection& c) {
    int i = 0;
    while (i < c.lineLength) {
        if (!is_sjis_lead(static_cast<unsigned char>(c.line[i]))) {
            i++;
        } else if (i + 1 < c.lineLength) {
            i += 2;
        } else {
            c.lineLength = i;
            break;
        }
    }
}

// Takes the next message number from the delete list into number. Entries are
// split at the settings letters, commas and blanks; anything that is not a
// plain number is passed over, so that no other text reaches a DELE command.
bool next_delete_number(Connection& c, char (&number)[16]) {
    const char* list = c.deleteList;
    int at = c.pop3.deleteCursor;
    int size = static_cast<int>(strnlen(list, sizeof c.deleteList));
    while (at < size) {
        while (at < size && strchr("abc, ", list[at])) at++;
        int start = at;
        while (at < size && !strchr("abc, ", list[at])) at++;
        int length = at - start;
        bool digits = length > 0 && length < static_cast<int>(sizeof number);
        for (int i = start; digits && i < at; i++) digits = list[i] >= '0' && list[i] <= '9';
        if (!digits) continue;
        memcpy(number, list + start, static_cast<size_t>(length));
        number[length] = '\0';
        c.pop3.deleteCursor = at;
        return true;
    }
    c.pop3.deleteCursor = at;
    return false;
}

void send_delete(Connection& c, const char* number) {
    c.pop3.deletedCount++;
    remove_kept(c.user, c.settingsIndex, atoi(number));
    char command[32];
    snprintf(command, sizeof command, "DELE %s", number);
    pop3_send(c, command);
}

// Pipelined: keeps up to a window of DELE requests out beyond the one being
// answered, refilled half a window at a time.
void delete_ahead(Connection& c) {
    if (!c.pop3.pipelining || c.pop3.ahead > kPipelineWindow / 2) return;
    std::string batch;
    char number[16];
    while (c.pop3.ahead < kPipelineWindow && next_delete_number(c, number)) {
        c.pop3.deletedCount++;
        remove_kept(c.user, c.settingsIndex, atoi(number));
        batch += "DELE ";
        batch += number;
        batch += "\r\n";
        c.pop3.ahead++;
    }
    c.pop3.aheadMultiline = 0;
    pop3_send_batch(c, batch);
}

// More than one number left in the delete list: worth asking for pipelining.
bool several_deletes(Connection& c) {
    const int cursor = c.pop3.deleteCursor;
    char number[16];
    const bool several = next_delete_number(c, number) && next_delete_number(c, number);
    c.pop3.deleteCursor = cursor;
    return several;
}

uint16_t stat_count(const char* line) {
    const char* digit = strpbrk(line + 3, "0123456789");
    long count = digit ? strtol(digit, nullptr, 10) : 0;
    return static_cast<uint16_t>(count > 0xFFFF ? 0xFFFF : count);
}

bool names_capability(const char* line, const char* name) {
    const size_t n = strlen(name);
    return strncasecmp(line, name, n) == 0 && (line[n] == '\0' || line[n] == ' ');
}

// After an error page the replies to requests already sent still come
// before QUIT's; each is read to its end so that QUIT's +OK is the one that
// closes the exchange.
void skip_reply_ahead(Connection& c) {
    const char* line = c.line;
    if (c.pop3.drainBody) {
        if (strcmp(line, ".") == 0) {
            c.pop3.drainBody = 0;
            c.pop3.ahead--;
        }
        return;
    }
    if (c.pop3.aheadMultiline && starts_with(line, "+OK"))
        c.pop3.drainBody = 1;
    else
        c.pop3.ahead--;
}

} // namespace

void apop_digest(const char* timestamp, const char* password, char (&hex)[33]) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_MD_CTX* md = EVP_MD_CTX_new();
    bool ok = md && EVP_DigestInit_ex(md, EVP_md5(), nullptr) == 1 &&
              EVP_DigestUpdate(md, timestamp, strlen(timestamp)) == 1 &&
              EVP_DigestUpdate(md, password, strlen(password)) == 1 &&
              EVP_DigestFinal_ex(md, digest, &length) == 1 && length == 16;
    EVP_MD_CTX_free(md);
    if (!ok) memset(digest, 0, 16); // the server refuses it; the error page follows
    for (int i = 0; i < 16; i++) snprintf(hex + 2 * i, 3, "%02x", digest[i]);
}

bool pop3_send(Connection& c, const char* command) {
    char buffer[kLineSize + 2];
    int n = snprintf(buffer, sizeof buffer, "%s\r\n", command);
    if (n < 0 || n >= static_cast<int>(sizeof buffer) || !command_text_safe(command)) {
        // A user name or password from an old data file may hold a line
        // break; the server must not see the rest as a command of its own.
        snprintf(c.line, sizeof c.line, "-ERR");
        pop3_error_page(c);
        return false;
    }
    // A failed send shows up as a closed socket at the next poll.
    socket_stream_send(c.mail.socket, c.mail.tls, buffer, static_cast<size_t>(n));
    return true;
}

void pop3_send_batch(Connection& c, const std::string& lines) {
    if (!lines.empty()) socket_stream_send(c.mail.socket, c.mail.tls, lines.data(), lines.size());
}

bool pop3_ask_capabilities(Connection& c) {
    if (c.pop3.capaKnown) return false;
    c.pop3.capaKnown = 1;
    c.workerResult = CapaAsked;
    pop3_send(c, "CAPA");
    return true;
}

constexpr size_t kPop3ReadBlock = 64 * 1024;

int pop3_poll(Connection& c) {
    int r = socket_stream_wait(c.mail.socket, c.mail.tls, 0);
    if (r <= 0) return r;
    // Not c.receiveBuffer: the page frame is assembled there while these
    // bytes are still being walked. A large block: a 10 MB message in 4 KB
    // reads spent more time in poll and recv than in its lines.
    char buffer[kPop3ReadBlock];
    ssize_t n = socket_stream_recv(c.mail.socket, c.mail.tls, buffer, sizeof buffer);
    if (n == -2) return 0;
    if (n <= 0) return -1;
    const int fed = pop3_feed(c, buffer, static_cast<size_t>(n));
    // What the block's lines made of the page goes out before the next wait.
    FlushClient(c);
    return fed;
}

namespace {

// Adds the bytes of one line, or of the start of one, to c.line: carriage
// returns and NULs are left out, and past kLineSize - 1 bytes the rest is
// dropped. Splitting an over-long line instead could turn its tail into a
// "." or "-ERR" line and derail the exchange.
void take_line_bytes(Connection& c, const char* bytes, size_t n) {
    const size_t room = static_cast<size_t>(kLineSize - 1 - c.lineLength);
    // The usual line: no NUL, its one carriage return at its end. A large
    // message is hundreds of thousands of these, so they go in one copy.
    size_t plain = n;
    if (plain > 0 && bytes[plain - 1] == '\r') plain--;
    if (!memchr(bytes, '\r', plain) && !memchr(bytes, '\0', plain)) {
        const size_t take = plain < room ? plain : room;
        memcpy(c.line + c.lineLength, bytes, take);
        c.lineLength += static_cast<int32_t>(take);
        if (take < plain) c.pop3.lineCut = 1;
        return;
    }
    for (size_t i = 0; i < n; i++) {
        const char b = bytes[i];
        if (b == '\r' || b == '\0') continue;
        if (c.lineLength < kLineSize - 1)
            c.line[c.lineLength++] = b;
        else
            c.pop3.lineCut = 1;
    }
}

} // namespace

int pop3_feed(Connection& c, const char* buffer, size_t n) {
    // One clock reading serves every line of the block: a large part brings
    // thousands of lines per second and the stall rule counts in seconds.
    int32_t now = 0;
    size_t i = 0;
    while (i < n) {
        const char* end = static_cast<const char*>(memchr(buffer + i, '\n', n - i));
        if (!end) {
            take_line_bytes(c, buffer + i, n - i);
            return 0;
        }
        take_line_bytes(c, buffer + i, static_cast<size_t>(end - (buffer + i)));
        i = static_cast<size_t>(end - buffer) + 1;
        if (c.pop3.lineCut) drop_split_character(c);
        c.line[c.lineLength] = '\0';
        int quit = pop3_dispatch_line(c);
        c.lineLength = 0;
        c.pop3.lineCut = 0;
        if (c.pop3.streamRestarted) {
            c.pop3.streamRestarted = 0;
            return quit;
        }
        if (now == 0) now = static_cast<int32_t>(local_seconds());
        c.lastActivity = now;
        if (quit) return 1;
    }
    return 0;
}

namespace {

// Ends the exchange without a page of its own: the wait of the page reports
// why no secure connection came about.
int secure_failure(Connection& c, TlsFailure why) {
    c.mail.tlsFailure = static_cast<uint8_t>(why);
    c.workerResult = TlsFailed;
    return 1;
}

bool names_stls(const char* line) {
    return strncasecmp(line, "STLS", 4) == 0 && (line[4] == '\0' || line[4] == ' ');
}

// CAPA and STLS, before any login: a server that does not offer STLS, or
// refuses it, is left rather than spoken to in clear.
int stls_line(Connection& c) {
    const char* line = c.line;
    if (c.workerResult == CapaSent) {
        if (starts_with(line, "-ERR")) return secure_failure(c, TlsFailure::NotOffered);
        if (starts_with(line, "+OK")) return 0;
        if (names_stls(line)) c.pop3.stlsOffered = 1;
        if (strcmp(line, ".") != 0) return 0;
        if (!c.pop3.stlsOffered) return secure_failure(c, TlsFailure::NotOffered);
        c.workerResult = StlsSent;
        pop3_send(c, "STLS");
        return 0;
    }
    if (!starts_with(line, "+OK")) return secure_failure(c, TlsFailure::NotOffered);
    if (!pop3_start_tls(c)) return secure_failure(c, static_cast<TlsFailure>(c.mail.tlsFailure));
    // Whatever came in clear after the +OK is not the server's: it is dropped.
    c.pop3.streamRestarted = 1;
    c.workerResult = c.pop3.apopAfterTls ? AwaitGreetingApop : AwaitGreeting;
    sjis_copy(c.line, c.pop3.greeting);
    pop3_advance(c);
    return 0;
}

// The step whose command the +OK of a login answers: the list asks STAT
// next, other pages go straight to their command.
uint16_t after_login(const Connection& c) {
    return c.state == PageState::ListWait ? PassSent : StatSent;
}

void send_sasl(Connection& c, const char* prefix) {
    std::string line = prefix;
    line += c.saslResponse;
    line += "\r\n";
    socket_stream_send(c.mail.socket, c.mail.tls, line.data(), line.size());
}

bool continuation(const char* line) {
    return line[0] == '+' && (line[1] == '\0' || line[1] == ' ');
}

// AUTH XOAUTH2 after the greeting. RFC 5034 keeps the command within 255
// octets; a longer response waits for the server's "+".
void xoauth_login(Connection& c) {
    if (!c.saslResponse[0]) {
        // No token: the login failure page, with why in place of the
        // server's text.
        snprintf(c.line, sizeof c.line, "-ERR %s", c.saslDetail);
        pop3_error_page(c);
        return;
    }
    if (strlen(c.saslResponse) + strlen("AUTH XOAUTH2 \r\n") > 255) {
        c.workerResult = XoauthAskSent;
        pop3_send(c, "AUTH XOAUTH2");
        return;
    }
    c.workerResult = XoauthSent;
    send_sasl(c, "AUTH XOAUTH2 ");
}

// A refused token brings a "+" challenge holding the server's JSON error;
// the client answers it with an empty line and the -ERR follows.
int xoauth_line(Connection& c) {
    char* line = c.line;
    const int step = c.workerResult;
    if (starts_with(line, "-ERR")) {
        if (step == XoauthRefused && c.saslDetail[0]) {
            const size_t n = strlen(line);
            snprintf(line + n, sizeof c.line - n, " %s", c.saslDetail);
        }
        pop3_error_page(c);
        return 0;
    }
    if (starts_with(line, "+OK")) {
        c.workerResult = after_login(c);
        pop3_advance(c);
        return 0;
    }
    if (!continuation(line)) return 0;
    if (step == XoauthAskSent) {
        c.workerResult = XoauthSent;
        send_sasl(c, "");
    } else if (step == XoauthSent) {
        const std::string text = xoauth2_challenge_text(line[1] ? line + 2 : "");
        snprintf(c.saslDetail, sizeof c.saslDetail, "%s", text.c_str());
        c.workerResult = XoauthRefused;
        socket_stream_send(c.mail.socket, c.mail.tls, "\r\n", 2);
    }
    return 0;
}

// The CAPA reply in the middle of a page: a server without CAPA answers
// -ERR and is spoken to one request at a time.
void capa_line(Connection& c) {
    const char* line = c.line;
    if (names_capability(line, "PIPELINING")) c.pop3.pipelining = 1;
    if (strcmp(line, ".") != 0 && !starts_with(line, "-ERR")) return;
    if (c.state == PageState::ListWait) {
        c.workerResult = FetchingHeaders;
        pop3_list_asks(c, list_tops_begin(c));
    } else if (c.state != PageState::DeleteWait && c.mime.dividedPhase == 3) {
        // Requests for numbers past the last message are bad commands, and
        // a server ends the session after a few; the search asks ahead only
        // as far as STAT allows.
        if (c.pop3.pipelining) {
            c.workerResult = SearchStatSent;
            pop3_send(c, "STAT");
        } else {
            pop3_view_asks(c, ViewAsk::Top);
        }
    } else {
        c.workerResult = StatSent;
        pop3_advance(c);
    }
}

} // namespace

int pop3_dispatch_line(Connection& c) {
    const char* line = c.line;
    int step = c.workerResult;
    if (step == CapaAsked) {
        // The +OK opening the list of capabilities is no capability.
        if (!starts_with(line, "+OK")) capa_line(c);
        return 0;
    }
    if (step == Quitting && c.pop3.ahead > 0) {
        skip_reply_ahead(c);
        return 0;
    }
    // A server may refuse QUIT ("-ERR some deleted messages not removed");
    // either way the exchange is over, and a second error page or QUIT
    // would only follow a server that keeps talking.
    if (step == Quitting) return starts_with(line, "+OK") || starts_with(line, "-ERR") ? 1 : 0;
    if (step == CapaSent || step == StlsSent) return stls_line(c);
    if (step == XoauthAskSent || step == XoauthSent || step == XoauthRefused) return xoauth_line(c);
    // A part of divided mail was found while TOP requests for later
    // messages were still out: their replies come before the RETR's.
    if (step == Retrieving && c.pop3.ahead > 0 && c.mime.dividedPhase != 3) {
        skip_reply_ahead(c);
        return 0;
    }
    bool inBody = step == Retrieving && c.pop3.headerPhase == 0;
    if (starts_with(line, "-ERR") && !inBody) {
        pop3_error_page(c);
        return 0;
    }
    if (step == Retrieving) {
        if (inBody)
            pop3_view_asks(c, view_body_line(c, line));
        else if (!starts_with(line, "+OK"))
            pop3_view_asks(c, view_header_line(c, line));
        return 0;
    }
    if (!starts_with(line, "+OK")) {
        if (step == ListingFull || step == ListingUpdate) {
            pop3_list_asks(c, list_line(c, line));
        } else if (step == FetchingHeaders) {
            collect_top_line(c, line);
            if (line[0] == '.' && line[1] == '\0') pop3_list_asks(c, list_headers_done(c));
        }
        return 0;
    }
    pop3_advance(c);
    return 0;
}

namespace {

// The TOP of an entry about to be shown, one at a time.
void send_top(Connection& c, int number) {
    char command[32];
    snprintf(command, sizeof command, "TOP %d 0", number);
    c.workerResult = FetchingHeaders;
    pop3_send(c, command);
}

// Pipelined: keeps up to a window of TOP requests out beyond the one being
// answered, refilled half a window at a time; next gives the numbers (0 when
// there are no more).
void tops_ahead(Connection& c, int (*next)(Connection&)) {
    if (!c.pop3.pipelining || c.pop3.ahead > kPipelineWindow / 2) return;
    std::string batch;
    char command[32];
    for (int number; c.pop3.ahead < kPipelineWindow && (number = next(c));) {
        snprintf(command, sizeof command, "TOP %d 0\r\n", number);
        batch += command;
        c.pop3.ahead++;
    }
    c.pop3.aheadMultiline = 1;
    pop3_send_batch(c, batch);
}

void list_tops_ahead(Connection& c) {
    if (c.list.sent) tops_ahead(c, list_take_next_wanted);
}

// The search for a part of divided mail goes up to one past the last message.
void search_tops_ahead(Connection& c) {
    tops_ahead(c, [](Connection& x) { return view_take_next_searched(x, x.pop3.statCount); });
}

} // namespace

void pop3_view_asks(Connection& c, ViewAsk ask) {
    char command[32];
    switch (ask) {
    case ViewAsk::Nothing:
        return;
    case ViewAsk::Body:
        c.pop3.headerPhase = 0;
        return;
    case ViewAsk::Top:
        c.workerResult = Retrieving;
        if (c.pop3.ahead > 0) {
            c.pop3.ahead--; // its TOP is out already
        } else {
            snprintf(command, sizeof command, "TOP %d 0", view_take_search_cursor(c));
            pop3_send(c, command);
        }
        search_tops_ahead(c);
        return;
    case ViewAsk::Retr:
        snprintf(command, sizeof command, "RETR %d", c.mime.searchCursor);
        pop3_send(c, command);
        return;
    case ViewAsk::Capabilities:
        c.pop3.headerPhase = 1;
        if (!pop3_ask_capabilities(c)) pop3_view_asks(c, ViewAsk::Top);
        return;
    case ViewAsk::Quit:
        c.workerResult = Quitting;
        pop3_send(c, "QUIT");
        return;
    }
}

void pop3_list_asks(Connection& c, ListAsk ask) {
    switch (ask) {
    case ListAsk::Nothing:
        return;
    case ListAsk::List:
        c.workerResult = c.list.updating ? ListingUpdate : ListingFull;
        pop3_send(c, "LIST");
        return;
    case ListAsk::Capabilities:
        if (!pop3_ask_capabilities(c)) pop3_list_asks(c, list_tops_begin(c));
        return;
    case ListAsk::Top:
        if (c.pop3.ahead > 0)
            c.pop3.ahead--; // its TOP is out already
        else
            send_top(c, list_take_current(c));
        list_tops_ahead(c);
        return;
    case ListAsk::Quit:
        c.workerResult = Quitting;
        pop3_send(c, "QUIT");
        return;
    }
}

void pop3_advance(Connection& c) {
    SettingsSet& set = c.user->set[c.settingsIndex];
    PageState state = c.state;
    // Pages other than the list go from the login straight to RETR.
    uint16_t afterLogin = state == PageState::ListWait ? PassSent : StatSent;
    char command[kLineSize];
    char number[16];
    const bool awaiting = c.workerResult == AwaitGreeting || c.workerResult == AwaitGreetingApop;
    if (awaiting && c.pop3.security == static_cast<uint8_t>(Pop3Security::Stls) && !c.mail.tls) {
        c.pop3.apopAfterTls = c.workerResult == AwaitGreetingApop;
        sjis_copy(c.pop3.greeting, c.line);
        c.pop3.stlsOffered = 0;
        c.workerResult = CapaSent;
        pop3_send(c, "CAPA");
        return;
    }
    if (awaiting && c.pop3.oauth) {
        xoauth_login(c);
        return;
    }
    switch (c.workerResult) {
    case AwaitGreeting:
        c.workerResult = UserSent;
        snprintf(command, sizeof command, "USER %s", set.id);
        pop3_send(c, command);
        break;
    case AwaitGreetingApop: {
        const char* stamp = strchr(c.line + 3, '<');
        char hex[33];
        apop_digest(stamp ? stamp : "", set.password, hex);
        c.workerResult = afterLogin;
        snprintf(command, sizeof command, "APOP %s %s", set.id, hex);
        pop3_send(c, command);
        break;
    }
    case UserSent:
        c.workerResult = afterLogin;
        snprintf(command, sizeof command, "PASS %s", set.password);
        pop3_send(c, command);
        break;
    case PassSent:
        c.workerResult = StatSent;
        pop3_send(c, "STAT");
        break;
    case StatSent:
        if (state == PageState::ListWait) {
            c.pop3.statCount = stat_count(c.line);
            pop3_list_asks(c, list_after_stat(c, c.pop3.statCount));
        } else if (state == PageState::DeleteWait) {
            if (several_deletes(c) && pop3_ask_capabilities(c)) break;
            c.workerResult = Deleting;
            c.state = PageState::ListWait;
            if (next_delete_number(c, number)) {
                send_delete(c, number);
                delete_ahead(c);
            } else {
                c.workerResult = StatSent;
                pop3_send(c, "STAT");
            }
        } else {
            if (state != PageState::TextWait) SendStatus(c, 200);
            c.pop3.headerPhase = 1;
            c.workerResult = Retrieving;
            snprintf(command, sizeof command, "RETR %d", c.itemNumber);
            pop3_send(c, command);
        }
        break;
    case SearchStatSent:
        c.pop3.statCount = stat_count(c.line);
        pop3_view_asks(c, ViewAsk::Top);
        break;
    case Deleting:
        if (c.pop3.ahead > 0) {
            c.pop3.ahead--;
            delete_ahead(c);
        } else if (next_delete_number(c, number)) {
            send_delete(c, number);
            delete_ahead(c);
        } else {
            // The marked messages are left out of STAT and LIST from now on, so
            // the list follows in the same connection; QUIT removes them.
            c.workerResult = StatSent;
            pop3_send(c, "STAT");
        }
        break;
    default:
        break;
    }
}
