// Feeds arbitrary Date header values to format_mail_date under zones east and west
// of UTC and checks the shape of every result.
#include "base/date/mail_date.h"
#include "base/date/time_zone.h"
#include "fuzz.h"

static bool is_date_shape(const char* s) {
    static const char kShape[] = "dddd/dd/dd dd:dd:dd";
    if (std::strlen(s) != 19) return false;
    for (int i = 0; i < 19; ++i) {
        bool digit = s[i] >= '0' && s[i] <= '9';
        if (kShape[i] == 'd' ? !digit : s[i] != kShape[i]) return false;
    }
    return true;
}

static int field(const char* s, int at, int len) {
    int v = 0;
    for (int i = 0; i < len; ++i) v = v * 10 + (s[at + i] - '0');
    return v;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto value = Exactly(data, size, size + 1);

    for (int bias : {-765, -540, 0, 300, 720}) {
        set_time_zone_bias_for_test(bias);
        char out[kMailDateSize + 4];
        std::memset(out, '#', sizeof out);
        int result = format_mail_date(out, value.get(), kMailDateSize);
        check(result == 0 || result == 1);
        check(is_date_shape(out));
        check(out[kMailDateSize] == '#');
        if (result == 1) {
            int year = field(out, 0, 4), month = field(out, 5, 2), day = field(out, 8, 2);
            check(year >= 1 && month >= 1 && month <= 12 && day >= 1 && day <= 31);
            check(field(out, 11, 2) <= 23 && field(out, 14, 2) <= 59 && field(out, 17, 2) <= 59);
        }
    }

    char small[kMailDateSize];
    std::memset(small, '#', sizeof small);
    check(format_mail_date(small, value.get(), kMailDateSize - 1) == -1);
    check(small[0] == '\0' && small[kMailDateSize - 1] == '#');
    return 0;
}
