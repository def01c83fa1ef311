// The poppassd conversation: reply bytes in, commands out, one reply line at
// a time. It does no I/O of its own; the worker and the command-line form
// feed it from a socket, tests feed it from strings.
#pragma once
#include <cstddef>
#include <cstdint>

// Outcome of a password change, kept in Connection::workerResult.
enum PoppassdState : uint16_t {
    kPoppassdNotStarted = 0,
    kPoppassdAwaitGreeting = 1,
    kPoppassdUserSent = 2,
    kPoppassdPassSent = 3,
    kPoppassdNewpassSent = 4,
    kPoppassdChanged = 5,       // new password accepted, QUIT sent
    kPoppassdHostNotFound = 6,  // the name did not resolve; no worker
    kPoppassdConnectFailed = 7, // set when the worker starts; stays if connect fails
    kPoppassdRefused = 8,       // a reply not starting with "200"; QUIT sent
};

// The gateway's line buffer size: a longer reply line keeps its first 4095
// bytes and loses the rest up to its line feed.
constexpr int kPoppassdLineSize = 4096;
// The POP3 error text of a user record, where the refusal text goes.
constexpr int kPoppassdRefusalSize = 300;

// Writes one complete command; failures are not reported (a dead socket shows
// up as a closed connection at the next read).
using PoppassdSend = void (*)(void* context, const char* bytes, size_t n);

struct PoppassdExchange {
    // NUL-terminated inputs, not owned; they must outlive the exchange.
    const char* user = "";
    const char* oldPassword = "";
    const char* newPassword = "";
    PoppassdSend send = nullptr;
    void* sendContext = nullptr;

    uint16_t step = kPoppassdAwaitGreeting;
    int lineLength = 0;
    char line[kPoppassdLineSize];
    // The server's text after a refusal; empty otherwise, and empty when the
    // gateway itself refused to send an input (see poppassd_reply_line).
    char refusal[kPoppassdRefusalSize] = {};
};

// Feeds received bytes. Lines end at LF; CR and NUL bytes are dropped.
// Returns 1 once the reply to QUIT has arrived (the exchange is over), else 0;
// bytes after that line are not looked at.
int poppassd_feed(PoppassdExchange& x, const char* bytes, size_t n);

// Acts on one complete reply line. A line starting with "200" moves the
// greeting -> user -> pass -> newpass -> QUIT steps on; any other line stores
// its text, sends QUIT and gives kPoppassdRefused. Whatever answers QUIT ends
// the exchange without changing the outcome: a password already changed stays
// changed. An input holding CR or LF, or too long for one command line, is
// never sent: the exchange is refused with an empty text. Returns 1 when the
// exchange is over, else 0.
int poppassd_reply_line(PoppassdExchange& x, const char* line);

// The text of a refusal: the line from its fifth byte on (never from the
// middle of a two-byte character), leading spaces and tabs skipped, cut to
// fit without splitting a Shift_JIS character.
void poppassd_refusal_text(const char* line, char (&text)[kPoppassdRefusalSize]);
