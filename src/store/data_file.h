// The data file: the settings header followed by one slot per user.
//
// Every write produces a complete new file beside the old one, flushes it and
// renames it into place, so a crash or a full disk leaves either the old file
// or the new one, never half of either. Offsets inside the file stay those of
// the classic layout (header at 0, slot k at 800 + 4000*k).
#pragma once
#include "store/basic_settings.h"
#include "store/header_codec.h"
#include "store/mail_credentials.h"
#include "store/user_table.h"
#include <string>

struct DataStore {
    std::string data_path;   // <home>/tarnbox.dat
    std::string user_folder; // <home>/user
    DataFileKey key{};
    BasicSettings settings{};
    UserTable users;
    // False after a load dropped a corrupt slot: positions no longer match
    // the file, so the next write rewrites every slot.
    bool slots_in_sync = true;
    ReportFn report;
    // Loaded with the data file from <user folder>/mail-credentials.
    MailCredentials credentials;
};

// The store of the running process.
DataStore& data_store();

enum LoadResult : int { kLoadOk = 1, kLoadAbsent = 0, kLoadFailed = -1 };

// Reads settings and users. Corrupt slots are reported and skipped; readable
// users are never lost. Returns kLoadAbsent without a message when there is no
// file, kLoadFailed (reported) when it cannot be read at all.
int load_data_file(DataStore& ds);

// Writes a new file holding the current settings and no users (first start).
// Makes a new key. Returns 1, or -1 with a report.
int create_data_file(DataStore& ds);

// Rewrites the header from ds.settings, leaving the slots as they are.
// Returns 1, or -1 with a report (the settings stay applied in memory).
int save_basic_settings(DataStore& ds);

// Stores one user's slot at its position. Returns 1, kSlotTooLarge when the
// record does not fit (nothing written), -1 when the file cannot be written.
int write_user_slot(DataStore& ds, const UserRecord& r);

// Writes the header as it stands on disk and every user in table order, and
// renumbers. Returns 1 or -1.
int rewrite_data_file(DataStore& ds);
