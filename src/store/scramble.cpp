#include "store/scramble.h"

uint8_t xor_sum(const uint8_t* bytes, int n) {
    uint8_t x = 0;
    for (int i = 0; i < n; i++) x ^= bytes[i];
    return x == 0 ? 0x78 : x;
}

void scramble_fixed(uint8_t* dst, const uint8_t* src, uint8_t key, int n, int stride) {
    for (int j = 0; j < n; j++) dst[j * stride] = src[-j * stride] ^ key;
}

void scramble_rolling(uint8_t* dst, const uint8_t* src, uint8_t key, uint8_t step, int n,
                      int stride) {
    const uint8_t s = step == 0x80 ? 0x55 : step;
    uint8_t k = key;
    for (int j = 0; j < n; j++) {
        dst[j * stride] = src[-j * stride] ^ k;
        k = static_cast<uint8_t>(k + s);
    }
}

// The classic C runtime's linear congruential generator: files it writes look
// like files the original writer produced, and a fixed seed reproduces a file.
static uint32_t gRandomState = 1;

void seed_random(uint32_t seed) {
    gRandomState = seed;
}

int next_random() {
    gRandomState = gRandomState * 214013u + 2531011u;
    return static_cast<int>((gRandomState >> 16) & 0x7fff);
}

void fill_random(uint8_t* buf, int n) {
    for (int i = 0; i < n; i++) buf[i] = static_cast<uint8_t>(next_random());
}
