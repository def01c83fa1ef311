// The gateway's one global configuration record and its defaults.
#pragma once
#include <cstdint>

constexpr int max_users = 100;
constexpr int kPageColourCount = 30;
constexpr int kOptionWordCount = 18;

struct BasicSettings {
    int http_port;
    int browser_registration;
    int browser_auth;
    int multiple_addresses;
    int per_user_servers;
    // The eighteen option words, in the order the data file stores them.
    int poppassd_value;
    int close_browser;
    int user_policy_1;
    int user_policy_2;
    int user_policy_3;
    int user_policy_4;
    int poppassd_changeable;
    int apop_changeable;
    int default_mail_security; // for the servers of these settings and new sets
    int language_policy;
    int colour_flags;
    int background_mode;
    int fixed_rows;
    int fixed_columns;
    int fixed_uploads;
    int remote_control;
    int default_smtp_auth;
    int mail_options;
    char smtp_server[80];
    int smtp_port;
    char pop3_server[80];
    int pop3_port;
    char top_page[80];
    char admin_password[40];
    uint32_t page_colours[kPageColourCount];
    char background_image[256];
    char fixed_quotation[8];
    int log_size_kb;
    char log_folder[256];
};

// The option words in file order, so readers and writers walk one table.
extern int BasicSettings::*const kOptionWords[kOptionWordCount];

// Fills every field with the value of a newly created data file. The default
// log folder is the user folder, which the caller passes (it lives in the home).
void set_default_settings(BasicSettings& s, const char* user_folder);
void set_default_colours(BasicSettings& s);

// Bits of the option words.
enum : int {
    kPolicy1MayChangeName = 1,
    kPolicy1UploadNoFixed = 4,
    kPolicy1SignatureFixed = 8,
    kPolicy1PasswordFixed = 16,
    kPolicy1FoldingFixed = 32,
    kPolicy1SaveTextFixed = 64,
    kPolicy2MayChangeAddress = 1,
    kPolicy2JumpFixed = 4,
    kPolicy2HeaderFixed = 8,
    kPolicy2DeleteFixed = 16,
    kPolicy2CcFixed = 32,
    kPolicy2BccFixed = 64,
    kPolicy3MayChangeId = 1,
    kPolicy3FoldingOff = 32,
    kPolicy3SaveTextOn = 64,
    kPolicy4MayChangeServers = 1,
    kPolicy4JumpOff = 4,
    kPolicy4DeleteOff = 16,
    kPolicy4CcOff = 32,
    kPolicy4BccOff = 64,
    kLanguageTopMask = 3,
    kLanguageApopOn = 4,
    kLanguageHeaderOff = 8,
    kLanguageQuotationFixed = 16,
    kLanguageRowsFixed = 32,
    kLanguageColumnsFixed = 64,
    kMailAddDate = 1,
    kMailAddMessageId = 2,
    kMailDeleteLinkOff = 4,
    kMailDeleteLinkChangeable = 8,
};
