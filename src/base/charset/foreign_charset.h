#pragma once
// Received text in charsets other than the Japanese ones (UTF-8 above all,
// ISO-8859-x, Windows-125x, GB2312, Big5, EUC-KR, ...) brought to the
// gateway's Shift_JIS (code page 932) with iconv. A character Shift_JIS
// cannot hold never becomes mojibake: pages get the numeric character
// reference "&#N;", the text download gets the geta mark.

#include "base/text/ncr_length.h"
#include <cstddef>

enum class ForeignMode {
    Ncr,  // "&#N;" for a character without a Shift_JIS form, "&#65533;" for bad input
    Geta, // the geta mark (Shift_JIS 0x81AC) for the first, "?" for the second
};

// Longest charset label taken; longer ones are not converted.
inline constexpr int kCharsetNameSize = 40;

// True when text labelled with charset is converted here. False for the
// labels the Japanese conversions handle (ISO-2022-JP*, EUC-JP*, the
// Shift_JIS names), for US-ASCII and empty labels (nothing to do), and for
// labels iconv does not know. Case is ignored; blanks and quotes around the
// label are the caller's to strip.
bool is_foreign_charset(const char* charset);

// Converts in[0..n) from charset to Shift_JIS into out, writing at most
// cap - 1 bytes and a NUL (nothing when cap is 0). Conversion stops before
// the first character, reference or mark that does not fit whole. Invalid
// input bytes are replaced one by one and the conversion goes on; an
// incomplete sequence at the end counts as invalid. NUL characters are
// dropped. Returns the bytes written, or -1 (out empty) when charset is not
// one is_foreign_charset accepts.
int convert_foreign_to_sjis(const char* charset, const char* in, size_t n, char* out, size_t cap,
                            ForeignMode mode);

// As convert_foreign_to_sjis for text that arrives in pieces: when
// more_follows is set, an incomplete sequence at the end of in is left
// unconverted. *consumed receives the input bytes used; it is below n when
// such a tail was left or when out filled up (then *full is set).
int convert_foreign_piece(const char* charset, const char* in, size_t n, char* out, size_t cap,
                          ForeignMode mode, bool more_follows, size_t* consumed, bool* full);
