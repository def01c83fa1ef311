// Comparing a typed secret with a stored one.
#pragma once
#include <cstddef>

// True when given equals the secret stored in a buffer of capacity bytes.
// Takes the same time wherever the two differ.
bool SecretEquals(const char* stored, size_t capacity, const char* given);
