#include "mail/compose/stream_jis.h"

#include "base/charset/kana.h"
#include "base/charset/sjis.h"

namespace {

constexpr char kToKanji[] = "\x1B$B";
constexpr char kToAscii[] = "\x1B(B";
constexpr int kEscapeLength = 3;

bool StartsKanji(unsigned char b) {
    return is_sjis_lead(b) || is_halfwidth_kana(b);
}

} // namespace

void JisStream::emit(const char* bytes, int n) {
    out_.put(bytes, static_cast<size_t>(n));
    for (int i = 0; i < n; i++) lineLength_ = bytes[i] == '\n' ? 0 : lineLength_ + 1;
}

void JisStream::fold() {
    if (kanji_) emit(kToAscii, kEscapeLength);
    emit("\r\n", 2);
    if (kanji_) emit(kToKanji, kEscapeLength);
}

void JisStream::ascii(unsigned char b) {
    if (b != '\r' && b != '\n' && lineLength_ + 1 > kSmtpLineLimit) fold();
    const bool lineStart = lineLength_ == 0;
    const char c = static_cast<char>(b);
    emit(&c, 1);
    if (c == '.' && lineStart) emit(".", 1);
}

void JisStream::pair(unsigned code) {
    // Room for the pair and for the escape that closes the run.
    if (lineLength_ + 2 + kEscapeLength > kSmtpLineLimit) fold();
    const char bytes[2] = {static_cast<char>((code >> 8) & 0xFF), static_cast<char>(code & 0xFF)};
    emit(bytes, 2);
}

void JisStream::enterKanji() {
    if (lineLength_ + 2 * kEscapeLength + 2 > kSmtpLineLimit) fold();
    emit(kToKanji, kEscapeLength);
    kanji_ = true;
}

void JisStream::leaveKanji() {
    emit(kToAscii, kEscapeLength);
    kanji_ = false;
}

void JisStream::feed(unsigned char b) {
    if (!kanji_) {
        if (StartsKanji(b)) {
            enterKanji();
            pending_ = b;
        } else {
            ascii(b);
        }
        return;
    }
    if (pending_ >= 0) {
        const auto p = static_cast<unsigned char>(pending_);
        pending_ = -1;
        if (!is_halfwidth_kana(p)) {
            pair(sjis_to_jis(p, b));
            return;
        }
        unsigned code = kana_to_jis(p);
        if (b == 0xDE && takes_voiced_mark(p)) code += 1;
        if (b == 0xDF && takes_semivoiced_mark(p)) code += 2;
        pair(code);
        if (b >= 0xA1 && b <= 0xDD) {
            pending_ = b;
            return;
        }
        // A sound mark is spent on the kana before it, or dropped when that
        // kana has no marked form.
        if (b == 0xDE || b == 0xDF) return;
        if (is_sjis_lead(b)) {
            pending_ = b;
            return;
        }
        leaveKanji();
        ascii(b);
        return;
    }
    if (StartsKanji(b)) {
        pending_ = b;
        return;
    }
    leaveKanji();
    ascii(b);
}

void StreamJis(SmtpStage& out, const char* text, size_t n) {
    JisStream stream(out);
    stream.feed(text, n);
}
