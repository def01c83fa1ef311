// The systemd unit that runs the gateway as a service: `tarnbox serve` in the
// foreground, stopped by SIGTERM.
#pragma once
#include <string>
#include <string_view>
#include <vector>

inline constexpr const char* kServiceUnitName = "tarnbox.service";
inline constexpr const char* kSystemUnitDir = "/etc/systemd/system";

struct ServiceUnit {
    std::string binary; // absolute path of the tarnbox program
    std::string home;   // absolute, normalised home folder
    std::string user;   // account to run as; empty: root
    // serve's --https-listen value (checked already); empty: plain HTTP only.
    std::string https_listen;
    // Folders outside the home the gateway writes to (a log folder moved
    // elsewhere); they are optional, so a missing one does not stop the start.
    std::vector<std::string> extra_writable;
};

// One word of a unit file setting, quoted so that systemd reads it back
// unchanged: "%" doubled (specifiers), "$" doubled when the setting expands
// environment variables, double quotes with backslash escapes when the word
// holds blanks, quotes, backslashes or a ";".
std::string systemd_word(std::string_view word, bool expands_env);

// ProtectHome=read-only would hide a home under /home or /root behind a
// read-only mount, so it is left off for such homes.
bool home_protection_applies(std::string_view home);

// A name systemd accepts for User=: a user name or a numeric id.
bool valid_unit_user(std::string_view name);

// The unit file text, or an empty string with why_r set when a path cannot be
// written into a unit file (control characters, not absolute).
std::string service_unit_text(const ServiceUnit& unit, std::string& why_r);

// Replaces dir/name as a whole; why_r says what failed.
bool write_unit_file(const std::string& dir, const std::string& name, const std::string& text,
                     std::string& why_r);
