#include "store/basic_settings.h"
#include <cstring>

int BasicSettings::*const kOptionWords[kOptionWordCount] = {
    &BasicSettings::poppassd_value,
    &BasicSettings::close_browser,
    &BasicSettings::user_policy_1,
    &BasicSettings::user_policy_2,
    &BasicSettings::user_policy_3,
    &BasicSettings::user_policy_4,
    &BasicSettings::poppassd_changeable,
    &BasicSettings::apop_changeable,
    &BasicSettings::default_mail_security,
    &BasicSettings::language_policy,
    &BasicSettings::colour_flags,
    &BasicSettings::background_mode,
    &BasicSettings::fixed_rows,
    &BasicSettings::fixed_columns,
    &BasicSettings::fixed_uploads,
    &BasicSettings::remote_control,
    &BasicSettings::default_smtp_auth,
    &BasicSettings::mail_options,
};

static void copy_bounded(char* dst, size_t cap, const char* src) {
    size_t n = strnlen(src, cap - 1);
    memcpy(dst, src, n);
    dst[n] = 0;
}

void set_default_colours(BasicSettings& s) {
    for (auto& c : s.page_colours) c = 0;
    s.page_colours[0] = 0x0000FF;
    s.page_colours[1] = 0x400080;
    s.page_colours[2] = 0x000000;
    s.page_colours[3] = 0xFFFFFF;
}

void set_default_settings(BasicSettings& s, const char* user_folder) {
    s = BasicSettings{};
    s.http_port = 80;
    s.browser_registration = 1;
    s.user_policy_1 = 1;
    s.user_policy_2 = 1;
    s.language_policy = 1;
    s.fixed_rows = 10;
    s.fixed_columns = 80;
    s.fixed_uploads = 1;
    s.smtp_port = 25;
    s.pop3_port = 110;
    copy_bounded(s.top_page, sizeof s.top_page, "index.html");
    set_default_colours(s);
    s.log_size_kb = 128;
    copy_bounded(s.log_folder, sizeof s.log_folder, user_folder);
}
