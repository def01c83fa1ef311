// The received-mail list and the kept list behind it.
//
// The kept lists are owned by the user record (runtime.keptList, one per
// settings set). Entries are linked and unlinked, allocated and freed only
// with globalLock held; a set's list is otherwise changed only by the worker
// of that set's exchange (set 0 under the user's busy flag), which may read
// it without the lock.
#pragma once
#include "base/date/mail_date.h"
#include "mail/list/list_state.h"
#include "mail/mime/mime_state.h"
#include "page/connection.h"
#include <cstdint>

struct KeptEntry {
    // What a row reads comes first, so that a row of an entry not touched
    // since the last visit costs few cache lines: a list of ten thousand
    // rows spent most of its time waiting for memory.
    KeptEntry* next;
    int32_t number; // on the server; after its row is written, the row number
    int32_t size;
    int32_t read;
    int32_t contentClass;
    int32_t changed;
    int32_t shownBias;
    // date as the row shows it, made once: a list of ten thousand rows spent
    // a seventh of its time reading the same Date headers again. Made with
    // the zone bias beside it, and made again when that changes.
    char shownDate[kMailDateSize];
    char subject[300];
    char from[300];
    char date[300];
    char to[300];
    char replyTo[300];
    char messageId[300];
};

// An entry whose TOP reply has not been taken yet.
inline bool kept_has_headers(const KeptEntry& e) {
    return e.from[0] || e.date[0];
}

// Asks for the lines the row of e will read while the row before it is
// written; the walk itself cannot be prefetched, one entry at a time can.
inline void prefetch_row(const KeptEntry* e) {
    if (!e) return;
    __builtin_prefetch(e);
    __builtin_prefetch(e->subject + 32);
    __builtin_prefetch(e->from);
}

// After STAT (stat is its message count): LIST (full or update) or the empty list.
ListAsk list_after_stat(Connection& c, int stat);
// Each LIST line and the closing ".".
ListAsk list_line(Connection& c, const char* line);
void list_heading(Connection& c);
void list_kept_rows(Connection& c);
void list_row(Connection& c);
// The TOPs of the entries from c.list.current on, once the capabilities are
// known.
ListAsk list_tops_begin(Connection& c);
// A TOP reply is complete and its header parsed into c.mime.
ListAsk list_headers_done(Connection& c);
// The number of c.list.current, whose TOP is about to be sent; it counts as
// walked for the pipelined requests.
int list_take_current(Connection& c);
// The number of the next entry after the last one walked that wants its
// headers, or 0 when there is none; walks up to it.
int list_take_next_wanted(Connection& c);
void list_footer(Connection& c);
void list_section(Connection& c, int set);
// True when token is the identifier the last list recorded for message number
// of set c.settingsIndex (the single-message deletion from a message page).
bool delete_token_matches(Connection& c, int number, const char* token);
void mark_read(KeptEntry* list, int number, int mark);
void clear_read_marks(UserRecord* user);
bool find_kept(Connection& c, const char* messageId);
// Drops the entry of a message deleted in this exchange.
void remove_kept(UserRecord* user, int set, int number);
void free_kept_list(UserRecord* user, int set);

// Appends a zero-filled entry for number and size to the set's list; tail is
// the last entry when known (else null) and becomes the new entry. Null when
// memory is short.
KeptEntry* append_kept(UserRecord* user, int set, KeptEntry*& tail, int number, int size);
int count_kept(const UserRecord* user, int set);

// The subject made safe for the row markup: ISO-2022-JP brought to Shift_JIS,
// then <, >, & and " as entities and stray escape bytes dropped, so that the
// output filter (which passes row markup unescaped) can neither turn subject
// bytes into markup nor be switched into a JIS mode that swallows the rest of
// the row. Well-formed subjects look exactly as the filter would show them.
// Each of 300 bytes may become a six-byte entity.
constexpr int kSafeSubjectSize = 300 * 6 + 1;
void safe_subject(char (&dst)[kSafeSubjectSize], const char* subject);
