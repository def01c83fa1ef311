// The exchanges of settings sets 1 and 2 started for a merged list, which the
// page of set 0 waits for. An entry outlives its exchange's context (the
// monitor may free that at any time), and the parent is only compared, never
// dereferenced, because it may be gone too.
#pragma once
#include <cstdint>

struct Connection;

// Registers the exchange of set started for parent; returns its id.
uint64_t extra_run_begin(const Connection* parent, int set);
// The exchange with id has ended: its outcome is in the user's POP3 status.
void extra_run_end(uint64_t id);
// Sleeps until the exchange of set started for parent ends or ms have passed.
void extra_run_wait(const Connection* parent, int set, int ms);
// Forgets every exchange of parent (its merged list starts afresh).
void extra_runs_forget(const Connection* parent);
// True once the exchange of set (1 or 2) started for c has ended and its
// outcome is kept in the user's POP3 status; forgets the exchange then.
bool pop3_extra_finished(Connection& c, int set);
