#include "admin/settings_fields.h"
#include "admin/admin_context.h"
#include "base/console_text.h"
#include "base/text/command_text.h"
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <strings.h>

namespace {

#define NUM(field, lo, hi)                                                                         \
    SettingsField {                                                                                \
#field, FieldKind::number, &BasicSettings::field, lo, hi, 0, 0                             \
    }
#define TEXT(field, len)                                                                           \
    SettingsField {                                                                                \
#field, FieldKind::text, nullptr, 0, 0, offsetof(BasicSettings, field), len                \
    }

const SettingsField kFields[] = {
    NUM(http_port, 1, 65535),
    NUM(browser_registration, 0, 1),
    NUM(browser_auth, 0, 1),
    NUM(multiple_addresses, 0, 1),
    NUM(per_user_servers, 0, 1),
    NUM(poppassd_value, 0, 1),
    NUM(close_browser, 0, 1),
    NUM(user_policy_1, 0, 127),
    NUM(user_policy_2, 0, 127),
    NUM(user_policy_3, 0, 127),
    NUM(user_policy_4, 0, 127),
    NUM(poppassd_changeable, 0, 1),
    NUM(apop_changeable, 0, 1),
    NUM(language_policy, 1, 127),
    NUM(colour_flags, 0, 7),
    NUM(background_mode, 0, 2),
    NUM(fixed_rows, 1, 30),
    NUM(fixed_columns, 1, 200),
    NUM(fixed_uploads, 1, 10),
    NUM(remote_control, 0, 1),
    NUM(mail_options, 0, 15),
    TEXT(smtp_server, 79),
    NUM(smtp_port, 1, 65535),
    TEXT(pop3_server, 79),
    NUM(pop3_port, 1, 65535),
    TEXT(top_page, 79),
    TEXT(admin_password, 39),
    SettingsField{"page_colours", FieldKind::colours, nullptr, 0, 0, 0, 0},
    TEXT(background_image, 255),
    TEXT(fixed_quotation, 6),
    NUM(log_size_kb, 0, 30000),
    TEXT(log_folder, 255),
};

#undef NUM
#undef TEXT

bool parse_number(const std::string& v, long& out) {
    if (v.empty() || v.size() > 9) return false;
    size_t i = v[0] == '-' ? 1 : 0;
    if (i == v.size()) return false;
    long n = 0;
    for (; i < v.size(); i++) {
        if (v[i] < '0' || v[i] > '9') return false;
        n = n * 10 + (v[i] - '0');
    }
    out = v[0] == '-' ? -n : n;
    return true;
}

bool parse_colour(const std::string& word, uint32_t& out) {
    if (word.size() != 6) return false;
    uint32_t c = 0;
    for (char ch : word) {
        int d = ch >= '0' && ch <= '9'   ? ch - '0'
                : ch >= 'A' && ch <= 'F' ? ch - 'A' + 10
                : ch >= 'a' && ch <= 'f' ? ch - 'a' + 10
                                         : -1;
        if (d < 0) return false;
        c = c << 4 | static_cast<uint32_t>(d);
    }
    out = c;
    return true;
}

// The three ports also take a service name. Returns -1 for a name nobody
// knows, 0 when value is no name at all (digits are for the number rule).
long PortByName(const SettingsField& f, const std::string& value) {
    if (value.empty() || (value[0] >= '0' && value[0] <= '9') || value[0] == '-') return 0;
    if (f.number == &BasicSettings::http_port) return port_from_text(value, "http", 80);
    if (f.number == &BasicSettings::smtp_port) return port_from_text(value, "smtp", 25);
    if (f.number == &BasicSettings::pop3_port) return port_from_text(value, "pop3", 110);
    return 0;
}

} // namespace

long port_from_text(const std::string& value, const char* word, int standard) {
    if (!value.empty() && value[0] >= '0' && value[0] <= '9') {
        long n = 0;
        for (size_t i = 0; i < value.size() && value[i] >= '0' && value[i] <= '9'; i++) {
            n = n * 10 + (value[i] - '0');
            if (n > 65535) return -1;
        }
        return n == 0 ? -1 : n;
    }
    if (!strcasecmp(value.c_str(), word)) return standard;
    if (value.empty()) return -1;
    const servent* e = getservbyname(value.c_str(), "tcp");
    return e ? ntohs(static_cast<uint16_t>(e->s_port)) : -1;
}

const SettingsField* settings_fields_begin() {
    return kFields;
}
const SettingsField* settings_fields_end() {
    return kFields + sizeof kFields / sizeof kFields[0];
}

const SettingsField* find_settings_field(const std::string& name) {
    for (const SettingsField* f = settings_fields_begin(); f != settings_fields_end(); f++)
        if (name == f->name) return f;
    return nullptr;
}

char* field_text(BasicSettings& s, const SettingsField& f) {
    return reinterpret_cast<char*>(&s) + f.text_offset;
}

const char* field_text(const BasicSettings& s, const SettingsField& f) {
    return reinterpret_cast<const char*>(&s) + f.text_offset;
}

std::string format_settings_field(const BasicSettings& s, const SettingsField& f) {
    switch (f.kind) {
    case FieldKind::number:
        return std::to_string(s.*f.number);
    case FieldKind::text:
        return sjis_to_utf8(field_text(s, f));
    case FieldKind::colours: {
        std::string out;
        char word[8];
        for (int i = 0; i < kPageColourCount; i++) {
            snprintf(word, sizeof word, "%06X", s.page_colours[i] & 0xFFFFFF);
            if (i) out += ',';
            out += word;
        }
        return out;
    }
    }
    return {};
}

std::string apply_settings_field(BasicSettings& s, const SettingsField& f,
                                 const std::string& value) {
    std::string name = f.name;
    switch (f.kind) {
    case FieldKind::number: {
        long n;
        if (const long port = PortByName(f, value); port != 0) {
            if (port < 0) {
                const char* word = f.number == &BasicSettings::http_port   ? "HTTP"
                                   : f.number == &BasicSettings::smtp_port ? "SMTP"
                                                                           : "POP3";
                return std::string(word) + "ポートの名称が正しくありません。";
            }
            s.*f.number = static_cast<int>(port);
            return {};
        }
        if (!parse_number(value, n)) return name + ": 数値を指定してください (\"" + value + "\")。";
        if (n < f.min || n > f.max)
            return name + ": " + std::to_string(f.min) + " から " + std::to_string(f.max) +
                   " までの値を指定してください。";
        if (f.number == &BasicSettings::language_policy && (n & kLanguageTopMask) == 0)
            return name + ": ビット 0-1 (トップページの言語) は 1, 2, 3 のいずれかです。";
        s.*f.number = static_cast<int>(n);
        return {};
    }
    case FieldKind::text: {
        std::string sjis;
        if (!utf8_to_sjis(value, sjis))
            return name + ": Shift_JIS で表せない文字が含まれています。";
        if (!command_text_safe(sjis)) return name + ": " + kNoLineBreaks;
        if (sjis.size() > f.max_bytes)
            return name + ": 長すぎます (" + std::to_string(f.max_bytes) + " バイトまで)。";
        char* dst = field_text(s, f);
        memcpy(dst, sjis.data(), sjis.size());
        dst[sjis.size()] = 0;
        return {};
    }
    case FieldKind::colours: {
        uint32_t colours[kPageColourCount];
        int count = 0;
        bool ok = true;
        size_t start = 0;
        for (;;) {
            size_t comma = value.find(',', start);
            std::string word =
                value.substr(start, comma == std::string::npos ? comma : comma - start);
            if (count == kPageColourCount || !parse_colour(word, colours[count])) {
                ok = false;
                break;
            }
            count++;
            if (comma == std::string::npos) break;
            start = comma + 1;
        }
        if (!ok || count != kPageColourCount)
            return name + ": 6 桁の 16 進数 (RRGGBB) を 30 個、カンマで区切って指定してください。";
        memcpy(s.page_colours, colours, sizeof colours);
        return {};
    }
    }
    return {};
}

std::string check_settings_lengths(const BasicSettings& s) {
    size_t total = strlen(s.smtp_server) + strlen(s.pop3_server) + strlen(s.top_page) +
                   strlen(s.admin_password) + strlen(s.background_image) + strlen(s.log_folder);
    if (total >= 651) return "パスの指定が長すぎます。";
    return {};
}
