// What every administration subcommand works on.
#pragma once
#include "base/home.h"
#include "store/data_file.h"
#include <deque>
#include <string>
#include <string_view>
#include <vector>

struct AdminContext {
    HomePaths paths;
    DataStore& ds;
    std::vector<std::string> args; // after the subcommand's own name(s)
    // --admin-password-file: where scripts keep the administrator password.
    std::string admin_password_file;
};

// Prints the message (UTF-8) on stderr and returns the failure status.
int admin_fail(const std::string& message);

// Loads the data file. With for_change, first claims the home so that no
// gateway and no other administration command writes at the same time.
// Returns 1, or a failure status after printing why.
int open_store(AdminContext& ctx, bool for_change);

// What a refused value with CR, LF or NUL is told, after the field's name.
inline constexpr const char* kNoLineBreaks = "改行 (CR, LF) や NUL 文字は使えません。";

// Command-line text is UTF-8; the gateway keeps Shift_JIS. Returns false and
// prints a message naming the field when the text cannot be stored, holds a
// CR, LF or NUL (it could reach a mail server's command line), or is longer
// than max_bytes (in Shift_JIS bytes).
bool take_text(const std::string& field, const std::string& utf8, size_t max_bytes,
               std::string& sjis_r);

// The id names the user's files and folders; it must not reach outside
// them: not "." or "..", no "/", "\\" or control character.
bool id_names_a_file(std::string_view id);
// What a refused id is told.
inline constexpr const char* kIdNotAFileName =
    "POP3ユーザー名に使えない文字 (/ \\ 制御文字) が含まれています。";

using AdminCommand = int (*)(AdminContext&);

// Asks for the administrator password when one is set (without echo on a
// terminal, else from --admin-password-file). Returns 0 when the command may
// run, else a failure status after printing why.
int admin_gate(AdminContext& ctx);
int admin_password(AdminContext& ctx);
// The lines admin-password asks for, typed now, so that a running gateway can
// carry out the change.
std::deque<std::string> admin_password_input(AdminContext& ctx);
int admin_stop(AdminContext& ctx);
int admin_https_self_signed(AdminContext& ctx);

int admin_init(AdminContext& ctx);
int admin_settings_show(AdminContext& ctx);
int admin_settings_set(AdminContext& ctx);
int admin_settings_addresses(AdminContext& ctx);
int admin_users_list(AdminContext& ctx);
int admin_users_add(AdminContext& ctx);
int admin_users_change(AdminContext& ctx);
int admin_users_show(AdminContext& ctx);
// Before users add (adding) or users change runs: a password asked twice on
// the terminal (a bare --password, or none at all for a new user), or read
// from --password-file F or --password-stdin, goes into ctx.args as
// "--password P". Returns 0 to go on, else a failure status after saying why.
int admin_users_password_input(AdminContext& ctx, bool adding);
int admin_users_delete(AdminContext& ctx);
// Asks on the terminal which of the named users to delete and leaves
// "--yes" and the confirmed names in ctx.args; without a terminal --yes is
// required. Returns 0 to go on.
int admin_users_delete_confirm(AdminContext& ctx);
int admin_users_import(AdminContext& ctx);
int admin_users_select(AdminContext& ctx);
int admin_shared_book_list(AdminContext& ctx);
int admin_shared_book_add(AdminContext& ctx);
int admin_shared_book_up(AdminContext& ctx);
int admin_shared_book_down(AdminContext& ctx);
int admin_shared_book_delete(AdminContext& ctx);
int admin_shared_book_sort(AdminContext& ctx);
int admin_oauth_provider(AdminContext& ctx);
int admin_oauth_show(AdminContext& ctx);
int admin_oauth_remove(AdminContext& ctx);
int admin_service_install(AdminContext& ctx);
int admin_service_remove(AdminContext& ctx);
int admin_service_start(AdminContext& ctx);
int admin_service_status(AdminContext& ctx);
