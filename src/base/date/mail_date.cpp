#include "base/date/mail_date.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "base/date/calendar.h"
#include "base/date/time_zone.h"
#include "base/text/char_class.h"
#include "base/text/text_copy.h"
#include "base/text/text_search.h"

int month_number(const char* name) {
    for (int i = 0; i < 12; ++i) {
        if (std::strcmp(name, kMonthNames[i]) == 0) return i + 1;
    }
    return 1;
}

struct MailDateFields {
    int64_t year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
};

// Longer tokens are cut; every field needs fewer bytes than this to be read in full
// or to saturate.
static constexpr size_t kTokenSize = 32;

// Reads the next token, after blanks, up to one of delimiters. False at the end of
// the value, the token then being missing.
static bool next_token(const char*& p, char (&token)[kTokenSize], const char* delimiters) {
    p = SkipBlanks(p);
    if (*p == '\0') return false;
    p = CopyUntil(token, p, delimiters);
    return true;
}

static bool starts_with_digit(const char* token) {
    return IsDigit(token[0]);
}

// A token that starts with a digit gives its number, else the field stays 0.
static int number_of(const char* token) {
    return starts_with_digit(token) ? ParseInt(token) : 0;
}

// Reads day, month and year in either order. Returns true when the year token was
// found and starts with a digit, which lets the time be read.
static bool read_date_part(const char*& p, MailDateFields& date) {
    char token[kTokenSize];
    if (!next_token(p, token, " -")) return false;
    const char* year_ends;
    if (starts_with_digit(token)) {
        date.day = number_of(token);
        if (!next_token(p, token, " -")) return false;
        date.month = month_number(token);
        year_ends = " -";
    } else {
        date.month = month_number(token);
        if (!next_token(p, token, " ")) return false;
        date.day = number_of(token);
        year_ends = " ";
    }
    if (!next_token(p, token, year_ends)) return false;
    date.year = number_of(token);
    return starts_with_digit(token);
}

// Reads one time field; true when the token was there and started with a digit.
static bool read_time_field(const char*& p, const char* ends, int& field) {
    char token[kTokenSize];
    if (!next_token(p, token, ends) || !starts_with_digit(token)) return false;
    field = ParseInt(token);
    return true;
}

// Offset of the sender's zone east of UTC in minutes.
static int64_t zone_minutes(const char* token, int64_t local_offset) {
    if ((token[0] == '+' || token[0] == '-') && IsDigit(token[1])) {
        int64_t z = ParseInt(token + 1);
        if (token[0] == '-') z = -z;
        return z / 100 * 60 + z % 100;
    }
    if (PrefixEqualNoCase(token, "JST", 3) == 0 && token[3] == '\0') return local_offset;
    return 0;
}

static bool is_valid(const MailDateFields& d) {
    return d.year >= 1 && d.year <= 9999 && d.month >= 1 && d.month <= 12 && d.day >= 1 &&
           d.day <= days_in_month(d.year, d.month) && d.hour <= 23 && d.minute <= 59 &&
           d.second <= 59;
}

// Moves the time back by shift minutes; false when the result leaves years 1-9999.
static bool shift_back(MailDateFields& d, int64_t shift) {
    int64_t minutes =
        days_from_civil(d.year, d.month, d.day) * 1440 + d.hour * 60 + d.minute - shift;
    int64_t days = minutes / 1440;
    int64_t minute_of_day = minutes % 1440;
    if (minute_of_day < 0) {
        minute_of_day += 1440;
        days -= 1;
    }
    CivilDate date = civil_from_days(days);
    if (date.year < 1 || date.year > 9999) return false;
    d.year = date.year;
    d.month = date.month;
    d.day = date.day;
    d.hour = static_cast<int>(minute_of_day / 60);
    d.minute = static_cast<int>(minute_of_day % 60);
    return true;
}

int format_mail_date(char* dst, const char* value, size_t capacity) {
    if (capacity < kMailDateSize) {
        if (capacity > 0) dst[0] = '\0';
        return -1;
    }
    if (value == nullptr) value = "";
    const int64_t bias = time_zone_bias();
    int64_t zone = -bias;
    MailDateFields date;
    const char* p = SkipBlanks(value);
    char token[kTokenSize];
    if (*p != '\0' && !IsDigit(*p)) next_token(p, token, ", ");
    if (read_date_part(p, date) && read_time_field(p, ":", date.hour) &&
        read_time_field(p, ":", date.minute) && read_time_field(p, " ", date.second) &&
        next_token(p, token, " ")) {
        zone = zone_minutes(token, -bias);
    }
    if (date.year < 1900) date.year += 1900;
    bool valid = is_valid(date);
    if (valid && bias + zone != 0) valid = shift_back(date, bias + zone);
    // Digits by hand: a list of ten thousand rows formats as many dates.
    const int fields[] = {static_cast<int>(std::clamp<int64_t>(date.year, 0, 9999)),
                          std::clamp(date.month, 0, 99),
                          std::clamp(date.day, 0, 99),
                          std::clamp(date.hour, 0, 99),
                          std::clamp(date.minute, 0, 99),
                          std::clamp(date.second, 0, 99)};
    char text[kMailDateSize] = "0000/00/00 00:00:00";
    const int ends[] = {4, 7, 10, 13, 16, 19}; // one past each field's last digit
    for (int k = 0; k < 6; k++) {
        int v = fields[k];
        for (int at = ends[k] - 1, width = k == 0 ? 4 : 2; width > 0; width--, at--, v /= 10)
            text[at] = static_cast<char>('0' + v % 10);
    }
    std::memcpy(dst, text, kMailDateSize);
    return valid ? 1 : 0;
}
