#pragma once
// The numeric character references the gateway itself writes for received
// characters Shift_JIS cannot hold. Kept on the text floor: the escapers and
// the output filter must recognise them without knowing any charset.

// Length of the numeric character reference at s as the Ncr mode writes
// it ("&#" and the decimal value of a character from U+0080 to U+10FFFF
// without leading zeros, then ";"), or 0 when s does not start one. The
// output filter passes exactly these unescaped on text pages.
int foreign_ncr_length(const char* s);
