#pragma once
// Telling the three Japanese codes of received mail apart, and bringing text
// in any of them to Shift_JIS in place.

// Code numbers shared by detect_japanese_code and convert_to_sjis.
enum JapaneseCode : int {
    kCodeAsciiOrJis = 0, // result: no 8-bit Japanese (ASCII or 7-bit JIS)
    kCodeDetect = 0,     // mode: detect first
    kCodeSjis = 1,
    kCodeEuc = 2,
};

// 0 (ASCII or ISO-2022-JP), 1 (Shift_JIS) or 2 (EUC-JP), judged from the
// first len bytes only. A heuristic: an EUC-JP character with a first byte of
// 0xE0 or more also looks like Shift_JIS and puts the scan one byte out of
// step: EUC-JP text in which such a character is followed by ASCII, directly
// or after further two-byte characters, or ends the text, reads as 1.
// Null or len < 2 gives 0.
int detect_japanese_code(const char* text, int len);

// Converts ISO-2022-JP escapes and (mode 2) EUC-JP pairs in buf[0..len) to
// Shift_JIS in place; mode 0 detects first, mode 1 takes high bytes as they
// are. Never lengthens the text. buf must hold len + 1 bytes: it is always
// NUL-terminated after the last byte written. Returns the new length.
int convert_to_sjis(char* buf, int len, int mode);

// Copies src[0..len) to dst turning EUC-JP pairs (both bytes 0xA1-0xFE) into
// Shift_JIS; other bytes are copied. dst must hold len + 1 bytes; it is
// NUL-terminated. Returns the number of bytes written (at most len).
int euc_to_sjis(char* dst, const char* src, int len);
