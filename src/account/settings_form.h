// Pieces shared by the settings and new-user producers: where the posted
// fields live, what users may change, the form writer and the page endings.
//
// A settings index of -1 stands for a new user (the registration form); 0 to 2
// are Settings 1 to 3 of c.user.
#pragma once
#include "account/settings_slots.h"
#include "page/connection.h"
#include "store/basic_settings.h"
#include <cstddef>

// What users may change, from the option words (true = changeable).
struct SettingsPolicy {
    bool name;
    bool mail_address;
    bool id;
    bool password;
    bool servers; // only while per_user_servers is on
    bool quotation;
    bool rows;
    bool columns;
    bool upload_no;
    bool header;
    bool delete_mark;
    bool jump;
    bool cc;
    bool bcc;
    bool folding;
    bool save_text;
    bool delete_link;
    bool apop;
    bool poppassd;
    bool signature;
};
SettingsPolicy settings_policy(const BasicSettings& s);

// Limits of the entry area and of the signature.
constexpr int kMaxRows = 30;
constexpr int kMinColumns = 10;
constexpr int kMaxColumns = 200;
constexpr int kMaxSignature = 499;

// A new user, or a set of c.user that has no POP3 user name yet.
bool settings_adding(const Connection& c, int set);

// Fills the slots and the signature (c.messageText) from set of r (set -1:
// the registration form from the temporary record r).
void fill_settings_form(Connection& c, const UserRecord& r, int set);

// The form with the values in the slots, then the end of the page.
void write_settings_form(Connection& c, int set);

// The end of a settings page: the link back to the list, or for a new user
// the link to the top page; then the page frame is closed.
void settings_page_end(Connection& c, int set);

// Message text with one "%s" or "%d" filled, cut to the buffer.
void message_with(char* dst, size_t size, int index, int english, const char* text);
void message_with(char* dst, size_t size, int index, int english, int number);
