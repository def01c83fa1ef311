// The personal address book page (/mail/book/index.html) and the shared
// address book that every user's compose page offers.
#pragma once
#include "mail/book/book_state.h"
#include "page/connection.h"
#include <string>

// Answer to GET /mail/book/index.html: status, head and WriteBookPage. An
// "add=" value (c.book.add) is added to the book and saved first.
void ShowBookPage(Connection& c);

// Answer to the posted book form: the "Input error" page when an entry was
// rejected (nothing saved), else the book stored from c.messageText; then
// the page again.
void SubmitBook(Connection& c);

// The page body after the head: the script variant for browsers flagged
// Mozilla 3 or later, the plain variant for all others.
void WriteBookPage(Connection& c);

// Field handler for the book_* fields of a plain-variant post, the form
// reader's book handler (see FieldHandler); ignored for the script
// variant, whose whole book arrives as the message field. Names and
// addresses are kept up to 38 and 78 bytes.
void BookFormField(Connection& c, const char* text, int urlencoded);

// Ends the entry whose address field has just arrived: appends it to
// c.messageText unless its address is empty or it is marked for deletion;
// a rejected entry (bad name, bad address, or a book that would outgrow
// the message text) leaves its message in c.book.error. Clears c.book.
void CommitBookEntry(Connection& c);

// False when text holds "<", ">", "(", ")", "," or "@" (second bytes of
// Shift_JIS pairs are not taken for them).
bool IsValidBookName(const char* text);

// False when the address of entry is already known: it occurs anywhere in
// the user's personal book (a plain substring match, so «t@b.c» is known
// when «at@b.com» is stored). True when it does not occur or there is no
// book.
bool AddressInBook(const Connection& c, const char* entry);

// Reads "<user folder>/common.adb" into memory; when the file does not open,
// there is no shared book. Replaces the text under globalLock.
void LoadSharedBook();

// The shared book's address-list text, or null when there is none. The text
// stays valid until the next LoadSharedBook; pages read it without the lock.
const std::string* shared_address_book();
