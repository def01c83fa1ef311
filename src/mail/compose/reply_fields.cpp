#include "mail/compose/reply_fields.h"
#include "base/charset/header_text.h"
#include "base/text/address.h"
#include "mail/compose/outgoing.h"
#include "mail/mime/mime_state.h"

#include <cstring>
#include <strings.h>

namespace {

const SettingsSet& Sender(const Connection& c) {
    const int set = c.settingsIndex >= 0 && c.settingsIndex < kSettingsSets ? c.settingsIndex : 0;
    return c.user->set[set];
}

bool IsDelimiter(char b) {
    return b == ' ' || b == '\t' || b == '(' || b == ',' || b == '"';
}

// Calls f with the bare address of every item of a ","-separated list.
template <typename F> void EachAddress(const char* list, F f) {
    const char* p = list;
    while (*p) {
        const size_t n = strcspn(p, ",");
        char item[kHeaderFieldSize];
        const size_t take = n < sizeof item - 1 ? n : sizeof item - 1;
        memcpy(item, p, take);
        item[take] = '\0';
        char address[kHeaderFieldSize];
        ExtractAddress(address, item);
        if (address[0]) f(address);
        p += n;
        if (*p == ',') p++;
    }
}

bool IsOwn(const Connection& c, const char* address) {
    char own[kHeaderFieldSize];
    ExtractAddress(own, Sender(c).mail_address);
    return strcasecmp(own, address) == 0;
}

// A received header in Shift_JIS: an address search or markup escape on the
// JIS form would cut two-byte characters whose bytes hold '<' or '"'.
struct Shown {
    char text[kHeaderFieldSize];
    explicit Shown(const char* received) { header_display_text(text, received); }
};

} // namespace

std::string ReplyAddress(const Connection& c) {
    const Shown shown(c.send.linkTo[0]    ? c.send.linkTo
                      : c.mime.replyTo[0] ? c.mime.replyTo
                                          : c.mime.fromLine);
    const char* source = shown.text;
    if (!source[0]) return "";
    if (const char* open = strrchr(source, '<')) {
        const char* start = open + 1;
        return std::string(start, strcspn(start, "> "));
    }
    const char* p = source;
    while (*p && IsDelimiter(*p)) p++;
    return std::string(p, strcspn(p, "( "));
}

std::string ReplySubject(const Connection& c, bool sentPage) {
    const Shown shown(c.mime.subjectLine);
    const char* s = shown.text;
    if (!s[0] || sentPage) return s;
    const char* rest = s;
    if (rest[0] == '[') {
        // A list tag without its "]" is no tag: the whole subject stays.
        if (const char* close = strchr(rest, ']')) rest = close + 1;
    }
    while (*rest == ' ' || *rest == '\t') rest++;
    if (strncasecmp(rest, "re:", 3) == 0) return rest;
    return std::string("Re: ") + rest;
}

bool OtherRecipientsExist(const Connection& c) {
    if (!c.user) return false;
    char from[kHeaderFieldSize];
    ExtractAddress(from, Shown(c.mime.fromLine).text);
    bool found = false;
    EachAddress(Shown(c.mime.toLine).text, [&](const char* a) {
        if (!IsOwn(c, a) && strcmp(a, from) != 0) found = true;
    });
    EachAddress(Shown(c.mime.ccLine).text, [&](const char* a) {
        if (!IsOwn(c, a)) found = true;
    });
    return found;
}

std::string OtherRecipients(const Connection& c) {
    std::string out;
    if (!c.user) return out;
    auto add = [&](const char* a) {
        if (IsOwn(c, a)) return;
        out += a;
        out += ',';
    };
    EachAddress(Shown(c.mime.toLine).text, add);
    EachAddress(Shown(c.mime.ccLine).text, add);
    if (!out.empty()) out.pop_back();
    return out;
}

void StripSignature(Connection& c) {
    if (!c.user) return;
    const char* signature = Sender(c).signature;
    if (!signature[0] || !c.messageText[0]) return;
    const char* at = strstr(c.messageText, signature);
    if (!at) return;
    int p = static_cast<int>(at - c.messageText);
    if (p > 1 && c.messageText[p - 2] == '\r' && c.messageText[p - 1] == '\n') p -= 2;
    c.messageText[p] = '\0';
    c.messageLength = p;
}
