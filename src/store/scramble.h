// The light scrambling of the data file: XOR keys derived from random bytes.
// It keeps casual readers from the passwords; it is not encryption.
#pragma once
#include <cstdint>

// XOR of n bytes; 0x78 when n < 1 or the XOR is 0, so a key is never 0.
uint8_t xor_sum(const uint8_t* bytes, int n);

// dst[j*stride] = src[-j*stride] ^ key for j in [0, n). Writers pass stride -1,
// readers +1; the caller guarantees both ranges lie inside its buffers.
void scramble_fixed(uint8_t* dst, const uint8_t* src, uint8_t key, int n, int stride);

// Like scramble_fixed, but the key advances by step after every byte (a step
// of 0x80 advances by 0x55 instead).
void scramble_rolling(uint8_t* dst, const uint8_t* src, uint8_t key, uint8_t step, int n,
                      int stride);

// The process-wide pseudo-random generator behind the key prefix and filler.
// Callers hold globalLock (or run before other threads exist).
void seed_random(uint32_t seed);
int next_random();
void fill_random(uint8_t* buf, int n);
