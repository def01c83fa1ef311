// A registered user: up to three mail settings sets, display options and the
// personal address book.
#pragma once
#include "base/busy_flag.h"
#include <atomic>
#include <cstdint>
#include <string>

constexpr int kSettingsSets = 3;
constexpr int kOptionBytes = 30;
constexpr int kSlotSize = 4000;
// Longest personal address book kept inside the slot; longer ones live in the
// overflow file.
constexpr int kBookInSlot = 2000;

struct SettingsSet {
    char id[40];
    char password[40];
    char name[40];
    char mail_address[80];
    char smtp_name[80];
    int smtp_port;
    char pop3_name[80];
    int pop3_port;
    char signature[500];
    char reserved_a[8];
    char reserved_b[8];
    char quotation[8];
    int apop_flag;
    int mail_security; // kSecurity* bits; 0 is plain POP3 and SMTP on the basic ports
    int smtp_auth;     // kSmtpAuth*
};

// Indexes into UserRecord::options.
enum UserOption : int {
    delete_flag = 0,
    row_count = 1,
    column_count = 2,
    header_flag = 3,
    cc_flag = 4,
    bcc_flag = 5,
    jump_flag = 6,
    reserved_option_7 = 7,
    reserved_option_8 = 8,
    reserved_option_10 = 10,
    upload_no = 11,
    folding = 12,
    save_text = 13,
    delete_link = 14,
};

constexpr int kMaxAttachments = 10;

// POP3 status of a settings set, kept in the user record.
enum Pop3Status : uint16_t {
    kPop3None = 0,
    kPop3Connected = 1,
    kPop3ExchangeError = 101,
    kPop3ServerNotFound = 103,
    kPop3ConnectFailed = 105,
    kPop3LoginFailed = 106,
    kPop3MailNotFound = 107,
};

struct KeptEntry; // one row of a received-mail list

// A received attachment saved in the user's temp folder.
struct AttachmentEntry {
    char file_name[300];    // name of the file in temp/<user>/
    char message_name[300]; // name the message gave it
    BusyFlag writing;       // set while the file is still being written
};

// State kept per user while the gateway runs; never stored.
struct UserRuntime {
    std::atomic<int32_t> listTime{0}; // local seconds of the last list shown
    std::atomic<int32_t> openMessage{0};
    BusyFlag busy; // a Settings 1 mail exchange is running
    AttachmentEntry attachments[kMaxAttachments] = {};
    std::atomic<int> attachmentCount{0};
    // Per settings set: the outcome of the last POP3 exchange, the server's
    // last -ERR text, and the list shown last.
    std::atomic<uint16_t> pop3Status[kSettingsSets] = {};
    char pop3ErrorText[kSettingsSets][300] = {};
    KeptEntry* keptList[kSettingsSets] = {};
    // Its length, kept beside it: counting meant a cache miss per entry.
    int32_t keptCount[kSettingsSets] = {};
    // For a reply to the message shown last.
    char lastMessageId[300] = {};
    char replyReferences[300] = {};
};

struct UserRecord {
    UserRecord* link = nullptr;
    int position = 0;
    SettingsSet set[kSettingsSets] = {};
    // Empty means no book.
    std::string address_book;
    uint8_t options[kOptionBytes] = {};
    UserRuntime runtime;
};

// The options a record made by the administrator starts with.
void set_default_options(UserRecord& r);
