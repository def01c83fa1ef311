// Shift_JIS text to ISO-2022-JP on its way into the DATA stream, with SMTP
// dot-stuffing.
#pragma once
#include "mail/compose/smtp_stage.h"

// Longest line, line end excluded, that goes out; longer text lines are
// folded (in two-byte runs the run is closed before the break and reopened
// after it, so each line stands on its own).
constexpr int kSmtpLineLimit = 998;

class JisStream {
public:
    explicit JisStream(SmtpStage& out) : out_(out) {}
    void feed(unsigned char b);
    void feed(const char* text, size_t n) {
        for (size_t i = 0; i < n; i++) feed(static_cast<unsigned char>(text[i]));
    }

private:
    void emit(const char* bytes, int n);
    void fold();
    void ascii(unsigned char b);
    void pair(unsigned code);
    void enterKanji();
    void leaveKanji();

    SmtpStage& out_;
    bool kanji_ = false;
    int pending_ = -1;
    int lineLength_ = 0;
};

// Converts and sends n bytes of Shift_JIS text.
void StreamJis(SmtpStage& out, const char* text, size_t n);
