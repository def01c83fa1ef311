// The byte cursor of the data file: items are laid from a high position
// downwards, scrambled, and `low` is the lowest byte an item may touch.
// Every access is checked, so neither a long setting nor a hostile file can
// move the cursor outside its buffer; an item that would marks the cursor
// failed instead.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "store/scramble.h"

struct DownCursor {
    uint8_t* buf;
    int q;
    int low;
    uint8_t key;
    uint8_t step = 0x78; // of the rolling scramble
    bool ok = true;

    bool room(int n) {
        if (!ok || n < 0 || q - n + 1 < low) ok = false;
        return ok;
    }
    void put_byte(int v) {
        if (room(1)) buf[q--] = static_cast<uint8_t>(v);
    }
    void put_word16(int v) {
        if (!room(2)) return;
        buf[q] = static_cast<uint8_t>(v);
        buf[q - 1] = static_cast<uint8_t>(v >> 8);
        q -= 2;
    }
    // A length byte, then the text under the fixed scramble.
    void put_fixed_string(const char* s) {
        const size_t len = strlen(s);
        if (len > 255 || !room(static_cast<int>(len) + 1)) {
            ok = false;
            return;
        }
        const int n = static_cast<int>(len);
        buf[q] = static_cast<uint8_t>(n);
        scramble_fixed(buf + q - 1, reinterpret_cast<const uint8_t*>(s), key, n, -1);
        q -= n + 1;
    }
    // One or two length bytes, then the text under the rolling scramble.
    void put_rolling(const char* s, size_t len, bool long_length) {
        const int head = long_length ? 2 : 1;
        if (len > (long_length ? 0xFFFFu : 0xFFu) || !room(static_cast<int>(len) + head)) {
            ok = false;
            return;
        }
        const int n = static_cast<int>(len);
        buf[q] = static_cast<uint8_t>(n);
        if (long_length) buf[q - 1] = static_cast<uint8_t>(n >> 8);
        scramble_rolling(buf + q - head, reinterpret_cast<const uint8_t*>(s), key, step, n, -1);
        q -= n + head;
    }
    void put_block(const uint8_t* v, int n) {
        if (!room(n)) return;
        scramble_fixed(buf + q, v, key, n, -1);
        q -= n;
    }

    int get_byte() { return room(1) ? buf[q--] : 0; }
    int get_word16() {
        if (!room(2)) return 0;
        const int v = buf[q] | buf[q - 1] << 8;
        q -= 2;
        return v;
    }
    // Reads a fixed-scramble string item; returns its length, or -1 past the
    // buffer. The text is stored only when it is shorter than cap.
    int get_fixed_string(char* dst, int cap) {
        if (!room(1)) return -1;
        const int n = buf[q];
        if (!room(n + 1)) return -1;
        if (dst && n < cap) {
            // Reader direction: dst runs forwards while the source runs down.
            scramble_fixed(reinterpret_cast<uint8_t*>(dst), buf + q - 1, key, n, 1);
            dst[n] = 0;
        }
        q -= n + 1;
        return n;
    }
    // A rolling-scramble string with a one-byte length; false when it is not
    // shorter than cap or passes the buffer.
    bool get_rolling(char* dst, int cap) {
        if (!room(1)) return false;
        const int n = buf[q];
        if (n >= cap || !room(n + 1)) return false;
        scramble_rolling(reinterpret_cast<uint8_t*>(dst), buf + q - 1, key, step, n, 1);
        dst[n] = 0;
        q -= n + 1;
        return true;
    }
    void get_block(uint8_t* v, int n) {
        if (!room(n)) return;
        for (int j = 0; j < n; j++) v[j] = buf[q - j] ^ key;
        q -= n;
    }
};
