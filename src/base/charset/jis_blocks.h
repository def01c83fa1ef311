#pragma once
// Block kernels behind convert_to_sjis and detect_japanese_code: they look at
// kJisBlock bytes at once and either handle the whole block or decline, so
// the byte-exact rules stay in the scalar code that handles what they decline.
// SSE2 where the compiler has it (all x86-64), eight-byte words elsewhere.

#include <cstdint>
#include <cstring>

#include "base/charset/sjis.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace jis_blocks {

// jis_to_sjis split into lookups for the scalar paths: the lead depends on the
// first byte only, the trail on the second and the first one's parity.
struct SjisTables {
    std::uint8_t lead[256];
    std::uint8_t trail[2][256];
};

constexpr SjisTables make_tables() {
    SjisTables t{};
    for (unsigned b = 0; b < 256; ++b) {
        const auto c = static_cast<unsigned char>(b);
        t.lead[b] = static_cast<std::uint8_t>(jis_to_sjis(c, 0x21) >> 8);
        t.trail[0][b] = static_cast<std::uint8_t>(jis_to_sjis(0x22, c));
        t.trail[1][b] = static_cast<std::uint8_t>(jis_to_sjis(0x21, c));
    }
    return t;
}

inline constexpr SjisTables kTables = make_tables();

// Writes the Shift_JIS bytes of JIS j1 j2 (any byte values, as jis_to_sjis).
inline void put_sjis(unsigned char* out, unsigned j1, unsigned j2) {
    j1 &= 0xFF;
    out[0] = kTables.lead[j1];
    out[1] = kTables.trail[j1 & 1][j2 & 0xFF];
}

enum class Block { Mixed, Ascii, EucPairs };

#if defined(__SSE2__)

inline constexpr int kJisBlock = 16;

// Converts the pairs of a block whose bytes, XORed with flip (0 for JIS, 0x80
// for EUC-JP), are all 0x21-0x7E; in and out may be the same or out below in.
// Returns false, writing nothing, for any other block.
inline bool pairs_to_sjis(const unsigned char* in, unsigned char* out, unsigned char flip) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
    v = _mm_xor_si128(v, _mm_set1_epi8(static_cast<char>(flip)));
    const __m128i in_range = _mm_and_si128(_mm_cmpgt_epi8(v, _mm_set1_epi8(0x20)),
                                           _mm_cmplt_epi8(v, _mm_set1_epi8(0x7F)));
    if (_mm_movemask_epi8(in_range) != 0xFFFF) return false;
    const __m128i j1 = _mm_and_si128(v, _mm_set1_epi16(0x00FF));
    const __m128i j2 = _mm_srli_epi16(v, 8);
    // lead = (j1 + 1) / 2 + (0x70, or 0xB0 above row 0x5E)
    const __m128i upper_rows = _mm_cmpgt_epi16(j1, _mm_set1_epi16(0x5E));
    __m128i lead = _mm_srli_epi16(_mm_add_epi16(j1, _mm_set1_epi16(1)), 1);
    lead = _mm_add_epi16(lead, _mm_set1_epi16(0x70));
    lead = _mm_add_epi16(lead, _mm_and_si128(upper_rows, _mm_set1_epi16(0x40)));
    // trail = j2 + 0x1F (+1 from 0x60 on) after an odd j1, j2 + 0x7E after an even one
    const __m128i odd = _mm_cmpeq_epi16(_mm_and_si128(j1, _mm_set1_epi16(1)), _mm_set1_epi16(1));
    __m128i t_odd = _mm_add_epi16(j2, _mm_set1_epi16(0x1F));
    t_odd = _mm_sub_epi16(t_odd, _mm_cmpgt_epi16(j2, _mm_set1_epi16(0x5F)));
    const __m128i t_even = _mm_add_epi16(j2, _mm_set1_epi16(0x7E));
    const __m128i trail = _mm_or_si128(_mm_and_si128(odd, t_odd), _mm_andnot_si128(odd, t_even));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_or_si128(lead, _mm_slli_epi16(trail, 8)));
    return true;
}

// Ascii: no byte of 0x80 or more. EucPairs: pairs whose first byte is
// 0xA1-0xDF (so never a Shift_JIS lead) and second 0xA1-0xFE.
inline Block classify(const unsigned char* p) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    if (_mm_movemask_epi8(v) == 0) return Block::Ascii;
    const __m128i x = _mm_xor_si128(v, _mm_set1_epi8(static_cast<char>(0x80)));
    const __m128i ok = _mm_and_si128(_mm_cmpgt_epi8(x, _mm_set1_epi8(0x20)),
                                     _mm_cmplt_epi8(x, _mm_set1_epi16(0x7F60)));
    return _mm_movemask_epi8(ok) == 0xFFFF ? Block::EucPairs : Block::Mixed;
}

// True when no byte is 0x80 or more and none is ESC.
inline bool plain_ascii(const unsigned char* p) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i esc = _mm_cmpeq_epi8(v, _mm_set1_epi8(0x1B));
    return _mm_movemask_epi8(_mm_or_si128(v, esc)) == 0;
}

#else

inline constexpr int kJisBlock = 8;

inline constexpr std::uint64_t kHigh = 0x8080808080808080ULL;

inline std::uint64_t load8(const unsigned char* p) {
    std::uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// Each byte of v (high bits clear) is at least lo and below hi, per byte lane
// constants; no carries cross lanes because every sum stays below 0x100.
inline bool lanes_in(std::uint64_t v, std::uint64_t add_lo, std::uint64_t add_hi) {
    return ((v + add_lo) & kHigh) == kHigh && ((v + add_hi) & kHigh) == 0;
}

inline bool pairs_to_sjis(const unsigned char* in, unsigned char* out, unsigned char flip) {
    const std::uint64_t v = load8(in) ^ (0x0101010101010101ULL * flip);
    if ((v & kHigh) != 0 || !lanes_in(v, 0x5F5F5F5F5F5F5F5FULL, 0x0101010101010101ULL)) {
        return false;
    }
    for (int k = 0; k < 8; k += 2)
        put_sjis(out + k, (v >> (8 * k)) & 0xFF, (v >> (8 * k + 8)) & 0xFF);
    return true;
}

inline Block classify(const unsigned char* p) {
    const std::uint64_t v = load8(p);
    if ((v & kHigh) == 0) return Block::Ascii;
    if ((v & kHigh) != kHigh) return Block::Mixed;
    return lanes_in(v & ~kHigh, 0x5F5F5F5F5F5F5F5FULL, 0x0120012001200120ULL) ? Block::EucPairs
                                                                              : Block::Mixed;
}

inline bool plain_ascii(const unsigned char* p) {
    const std::uint64_t v = load8(p);
    const std::uint64_t x = v ^ 0x1B1B1B1B1B1B1B1BULL;
    return (v & kHigh) == 0 && ((x - 0x0101010101010101ULL) & ~x & kHigh) == 0;
}

#endif

} // namespace jis_blocks
