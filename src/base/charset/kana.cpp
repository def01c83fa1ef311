#include "base/charset/kana.h"

#include <array>

#include "base/charset/sjis.h"

namespace {

// JIS X 0208 code of the full-width form of half-width bytes 0xA1-0xDF.
constexpr std::uint16_t kKanaJis[63] = {
    0x2123, 0x2156, 0x2157, 0x2122, 0x2126, 0x2572, 0x2521, 0x2523, // ｡｢｣､･ｦｧｨ
    0x2525, 0x2527, 0x2529, 0x2563, 0x2565, 0x2567, 0x2543, 0x213C, // ｩｪｫｬｭｮｯｰ
    0x2522, 0x2524, 0x2526, 0x2528, 0x252A, 0x252B, 0x252D, 0x252F, // ｱｲｳｴｵｶｷｸ
    0x2531, 0x2533, 0x2535, 0x2537, 0x2539, 0x253B, 0x253D, 0x253F, // ｹｺｻｼｽｾｿﾀ
    0x2541, 0x2544, 0x2546, 0x2548, 0x254A, 0x254B, 0x254C, 0x254D, // ﾁﾂﾃﾄﾅﾆﾇﾈ
    0x254E, 0x254F, 0x2552, 0x2555, 0x2558, 0x255B, 0x255E, 0x255F, // ﾉﾊﾋﾌﾍﾎﾏﾐ
    0x2560, 0x2561, 0x2562, 0x2564, 0x2566, 0x2568, 0x2569, 0x256A, // ﾑﾒﾓﾔﾕﾖﾗﾘ
    0x256B, 0x256C, 0x256D, 0x256F, 0x2573, 0x212B, 0x212C,         // ﾙﾚﾛﾜﾝﾞﾟ
};

constexpr std::array<std::uint16_t, 63> make_sjis_table() {
    std::array<std::uint16_t, 63> t{};
    for (int i = 0; i < 63; ++i) {
        t[i] = jis_to_sjis(static_cast<unsigned char>(kKanaJis[i] >> 8),
                           static_cast<unsigned char>(kKanaJis[i] & 0xFF));
    }
    return t;
}

constexpr std::array<std::uint16_t, 63> kKanaSjis = make_sjis_table();

static_assert(kKanaSjis[0] == 0x8142 && kKanaSjis[0xB0 - 0xA1] == 0x815B &&
              kKanaSjis[0xDD - 0xA1] == 0x8393 && kKanaSjis[0xDF - 0xA1] == 0x814B);

} // namespace

std::uint16_t kana_to_sjis(unsigned char c) {
    return is_halfwidth_kana(c) ? kKanaSjis[c - 0xA1] : 0x8140;
}

std::uint16_t kana_to_jis(unsigned char c) {
    return is_halfwidth_kana(c) ? kKanaJis[c - 0xA1] : 0x2121;
}
