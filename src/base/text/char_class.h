// Byte classes of the ASCII range. Every byte of 0x80 and above is outside all
// of them, so Shift_JIS bytes never pass for letters or digits.
#pragma once

constexpr bool IsDigit(unsigned char c) {
    return c >= '0' && c <= '9';
}

constexpr bool IsAlpha(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

constexpr bool IsAlnum(unsigned char c) {
    return IsDigit(c) || IsAlpha(c);
}

// Characters that may continue a web or mail address detected in text.
constexpr bool IsLinkChar(unsigned char c) {
    if (IsAlnum(c)) return true;
    for (const char* p = "/.-_@~:?#=&%,"; *p; ++p) {
        if (c == static_cast<unsigned char>(*p)) return true;
    }
    return false;
}

// a-z become A-Z; every other byte, including Shift_JIS bytes, is returned as is.
constexpr char ToUpperAscii(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}
