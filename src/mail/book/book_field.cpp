// The plain variant's post: one name, delete mark and address field per
// entry, in that order, turned back into the book text entry by entry.
#include "mail/book/address_book.h"
#include "mail/book/book_internal.h"
#include "mail/book/book_state.h"

#include "base/charset/sjis.h"
#include "base/text/address.h"
#include "base/text/messages.h"
#include "base/text/text_copy.h"
#include "base/text/text_search.h"
#include <cstdio>
#include <cstring>

using namespace book;

namespace {

// What a posted name and address keep.
constexpr int kBookNameBytes = 38;
constexpr int kBookAddressBytes = 78;
static_assert(sizeof(BookProgress::name) > kBookNameBytes);
static_assert(sizeof(BookProgress::address) > kBookAddressBytes);

bool Starts(const char* s, const char* prefix) {
    return strncmp(s, prefix, strlen(prefix)) == 0;
}

void Reject(Connection& c, int message) {
    snprintf(c.book.error, sizeof c.book.error, "%s\r\n", Message(message, c.english));
}

// Appends «name <address>» (or «<address>») to the book text being built,
// after a "," when it is not the first. A book that would outgrow the
// message text is refused as a whole rather than stored cut short.
void AppendEntry(Connection& c, const char* name, const char* address) {
    char entry[sizeof c.book.name + sizeof c.book.address + 8];
    int n = snprintf(entry, sizeof entry, "%s%s%s<%s>", c.messageLength > 0 ? "," : "", name,
                     name[0] ? " " : "", address);
    if (n < 0) return;
    if (c.messageLength + n >= kMessageTextLimit) {
        Reject(c, kMsgNoMoreAdding);
        return;
    }
    memcpy(c.messageText + c.messageLength, entry, static_cast<size_t>(n) + 1);
    c.messageLength += n;
}

} // namespace

bool IsValidBookName(const char* text) {
    for (char ch : {'<', '>', '(', ')', ',', '@'})
        if (sjis_find(text, ch) >= 0) return false;
    return true;
}

void CommitBookEntry(Connection& c) {
    BookProgress& b = c.book;
    const char* name = (b.nameSeen && b.nameNumber == b.addressNumber) ? b.name : "";
    bool deleted = b.deleteNumber != 0 && b.deleteNumber == b.addressNumber;
    if (b.address[0] && !deleted) {
        if (!IsValidBookName(name)) {
            Reject(c, kMsgBadName);
        } else if (!ValidAddress(b.address)) {
            Reject(c, kMsgBadAddress);
        } else {
            AppendEntry(c, name, b.address);
        }
    }
    b.name[0] = '\0';
    b.address[0] = '\0';
    b.nameNumber = b.addressNumber = b.deleteNumber = 0;
    b.nameSeen = 0;
}

void BookFormField(Connection& c, const char* text, int urlencoded) {
    if (ScriptVariant(c)) return;
    if (urlencoded) {
        const char* value = CopyUntil(c.fieldName, text, "=\r\n");
        if (text[strcspn(text, "=\r\n")] != '=') return;
        CopyUntil(c.receiveBuffer, value, "\r\n");
    }
    const char* field = c.fieldName;
    const char* value = c.receiveBuffer;
    BookProgress& b = c.book;
    if (Starts(field, "mail_address")) {
        b.addressNumber = ParseInt(field + 12);
        sjis_copy(b.address, value, kBookAddressBytes + 1);
        CommitBookEntry(c);
    } else if (Starts(field, "name")) {
        b.nameNumber = ParseInt(field + 4);
        sjis_copy(b.name, value, kBookNameBytes + 1);
        b.nameSeen = 1;
    } else if (Starts(field, "delete")) {
        b.deleteNumber = ParseInt(field + 6);
    }
}
