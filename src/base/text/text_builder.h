// A text put together in a fixed buffer, for lines written many times a page
// (a list row) where printf's parsing of its format would cost more than the
// bytes. The buffer always holds a NUL-terminated text; what does not fit is
// cut before the character it would split and everything after it dropped.
#pragma once
#include <cstddef>
#include <cstring>
#include <string_view>

#include "base/text/sjis_pair.h"

template <size_t N> class TextBuilder {
    static_assert(N >= 2);

public:
    TextBuilder() { buf_[0] = '\0'; }

    TextBuilder& Add(std::string_view s) {
        if (full_) return *this;
        size_t take = s.size();
        if (take > N - 1 - n_) {
            take = WholePrefix(s, N - 1 - n_);
            full_ = true;
        }
        std::memcpy(buf_ + n_, s.data(), take);
        n_ += take;
        buf_[n_] = '\0';
        return *this;
    }

    // An array is read up to its NUL or its end, never past it.
    template <size_t M> TextBuilder& Add(const char (&s)[M]) {
        return Add(std::string_view(s, strnlen(s, M)));
    }

    TextBuilder& Add(char ch) { return Add(std::string_view(&ch, 1)); }

    // value in decimal, at least width characters, padded in front with pad.
    TextBuilder& Number(long value, int width, char pad) {
        char digits[24];
        char* end = digits + sizeof digits;
        char* p = end;
        const bool negative = value < 0;
        unsigned long v =
            negative ? 0UL - static_cast<unsigned long>(value) : static_cast<unsigned long>(value);
        do {
            *--p = static_cast<char>('0' + v % 10);
            v /= 10;
        } while (v != 0);
        // printf's zero padding goes between the sign and the digits.
        if (negative && pad != '0') *--p = '-';
        const int length = static_cast<int>(end - p) + (negative && pad == '0' ? 1 : 0);
        if (negative && pad == '0') Add('-');
        for (int k = length; k < width; k++) Add(pad);
        return Add(std::string_view(p, static_cast<size_t>(end - p)));
    }

    const char* c_str() const { return buf_; }
    size_t size() const { return n_; }

private:
    static size_t WholePrefix(std::string_view s, size_t room) {
        size_t i = 0;
        while (i < room && i < s.size()) {
            const size_t len = i + 1 < s.size() && SjisPairAt(s.data() + i) ? 2 : 1;
            if (i + len > room) break;
            i += len;
        }
        return i;
    }

    char buf_[N];
    size_t n_ = 0;
    bool full_ = false;
};
