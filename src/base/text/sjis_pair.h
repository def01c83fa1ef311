// Two-byte character detection for the text helpers.
#pragma once

inline bool IsTextLeadByte(unsigned char c) {
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

// True when p starts a two-byte Shift_JIS character. A lead byte is only paired
// with a byte that can be a second byte (0x40-0x7E, 0x80-0xFC), so a stray lead
// byte in front of a NUL, a line end or a blank never swallows it.
inline bool SjisPairAt(const char* p) {
    auto lead = static_cast<unsigned char>(p[0]);
    if (!IsTextLeadByte(lead)) return false;
    auto trail = static_cast<unsigned char>(p[1]);
    return trail >= 0x40 && trail <= 0xFC && trail != 0x7F;
}

// Length of the character at p: 2 for a Shift_JIS pair, else 1 (p must not be at the NUL).
inline int TextCharLength(const char* p) {
    return SjisPairAt(p) ? 2 : 1;
}
