// One gateway or administration change per home at a time: an advisory lock
// on <home>/tarnbox.lock, held for the life of the process that claimed it.
#pragma once
#include <string>

// Returns 1 when claimed, 0 when another process holds it, -1 when the lock
// file cannot be opened (errno set).
int ClaimInstance(const std::string& lock_file);
void ReleaseInstance();
