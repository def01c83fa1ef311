// The subcommands of `tarnbox`: one table for the command line and for the
// running gateway, which carries out the changing ones on their behalf.
#pragma once
#include "admin/admin_context.h"
#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

struct Subcommand {
    const char* name; // first word
    const char* verb; // second word, or nullptr
    // Null for serve alone: the gateway itself, which main starts and which
    // answers the forwarded commands of this table.
    AdminCommand run;
    const char* usage;
};

// The subcommand named by words[at] (and words[at + 1] for a verb); first is
// then the index of its first argument. Null when none matches.
const Subcommand* find_subcommand(const std::vector<std::string>& words, size_t at, size_t& first);
// Commands that change the configuration ask for the administrator password.
bool subcommand_guarded(const Subcommand& c);
// Commands a running gateway carries out itself, so that the change is in
// effect for the next request.
bool subcommand_forwarded(const Subcommand& c);
// Commands that take globalLock themselves, only where they touch the store:
// they wait for pages to end or talk to a mail server on the way.
bool subcommand_locks_itself(const Subcommand& c);
int print_usage(FILE* out);
int print_help();
