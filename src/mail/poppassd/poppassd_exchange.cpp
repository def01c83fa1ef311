#include "mail/poppassd/poppassd_exchange.h"
#include "base/charset/sjis.h"
#include "base/text/command_text.h"
#include "mail/compose/outgoing.h"
#include <cstdio>
#include <cstring>

namespace {

void send_command(PoppassdExchange& x, const char* command, size_t n) {
    if (x.send) x.send(x.sendContext, command, n);
}

void send_quit(PoppassdExchange& x) {
    send_command(x, "QUIT\r\n", 6);
}

// A value with a line break would let a posted field add commands of its
// own; one that does not fit would be cut into a different password.
bool send_value(PoppassdExchange& x, const char* keyword, const char* value) {
    char command[kPoppassdLineSize];
    if (!command_text_safe(std::string_view(value, strnlen(value, sizeof command)))) return false;
    int n = snprintf(command, sizeof command, "%s %s\r\n", keyword, value);
    if (n < 0 || n >= static_cast<int>(sizeof command)) return false;
    send_command(x, command, static_cast<size_t>(n));
    return true;
}

void refuse(PoppassdExchange& x) {
    send_quit(x);
    x.step = kPoppassdRefused;
}

} // namespace

void poppassd_refusal_text(const char* line, char (&text)[kPoppassdRefusalSize]) {
    size_t at = 0;
    while (at < 4 && line[at]) at += is_sjis_lead(static_cast<unsigned char>(line[at])) ? 2 : 1;
    // A lead byte just before the end leaves at one past the NUL.
    if (at > strlen(line)) at = strlen(line);
    while (line[at] == ' ' || line[at] == '\t') at++;
    sjis_copy(text, line + at);
}

int poppassd_reply_line(PoppassdExchange& x, const char* line) {
    if (x.step == kPoppassdChanged || x.step == kPoppassdRefused) return 1;
    if (strncmp(line, "200", 3) != 0) {
        poppassd_refusal_text(line, x.refusal);
        refuse(x);
        return 0;
    }
    bool sent = true;
    switch (x.step) {
    case kPoppassdAwaitGreeting:
        sent = send_value(x, "user", x.user);
        x.step = kPoppassdUserSent;
        break;
    case kPoppassdUserSent:
        sent = send_value(x, "pass", x.oldPassword);
        x.step = kPoppassdPassSent;
        break;
    case kPoppassdPassSent:
        sent = send_value(x, "newpass", x.newPassword);
        x.step = kPoppassdNewpassSent;
        break;
    case kPoppassdNewpassSent:
        send_quit(x);
        x.step = kPoppassdChanged;
        break;
    default:
        return 1; // not an exchange in progress
    }
    if (!sent) {
        x.refusal[0] = '\0';
        refuse(x);
    }
    return 0;
}

int poppassd_feed(PoppassdExchange& x, const char* bytes, size_t n) {
    for (size_t i = 0; i < n; i++) {
        char b = bytes[i];
        if (b == '\n') {
            x.line[x.lineLength] = '\0';
            x.lineLength = 0;
            if (poppassd_reply_line(x, x.line)) return 1;
        } else if (b == '\r' || b == '\0') {
            continue;
        } else if (x.lineLength < kPoppassdLineSize - 1) {
            x.line[x.lineLength++] = b;
        }
        // Bytes beyond the buffer are dropped rather than starting a new
        // line: the tail of a long text could otherwise pass for a "200".
    }
    return 0;
}
