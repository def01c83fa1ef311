#pragma once
// Quoted-printable, one line at a time, as message bodies arrive line by line.

// Value of a hexadecimal digit, either case; -1 for any other character.
constexpr int hex_digit_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Decodes one line (src[0..len), without its line end) into dst, which must
// hold len + 3 bytes. "=XY" becomes the byte with hex digits XY. A final '='
// is a soft line break: the output then ends with a NUL only; otherwise CR LF
// and a NUL are appended. An '=' not followed by two hex digits, and every
// other byte (8-bit, controls, blanks), is copied as it is. Returns the bytes
// written, not counting the NUL.
int qp_decode_line(char* dst, const char* src, int len);
