#include "store/header_codec.h"
#include "store/down_cursor.h"
#include "store/scramble.h"
#include <cstring>

namespace {

using Cursor = DownCursor;

void put_u32_block(Cursor& c, const uint32_t* words, int count) {
    uint8_t bytes[kPageColourCount * 4];
    for (int i = 0; i < count; i++)
        for (int b = 0; b < 4; b++) bytes[i * 4 + b] = static_cast<uint8_t>(words[i] >> (8 * b));
    c.put_block(bytes, count * 4);
}

void copy_text(char* dst, size_t cap, const char* src) {
    size_t n = strnlen(src, cap - 1);
    memcpy(dst, src, n);
    dst[n] = 0;
}

} // namespace

void make_file_key(DataFileKey& key) {
    key.length = (next_random() & 7) + 8;
    fill_random(key.prefix, key.length);
    key.file_key = xor_sum(key.prefix, key.length);
}

int encode_header(const BasicSettings& s, const DataFileKey& key, uint8_t (&out)[kHeaderSize]) {
    // A damaged file can carry any prefix length; writing with one outside
    // the valid range would put settings over the length byte itself.
    if (key.length < 8 || key.length > 15) return -1;
    fill_random(out, kHeaderSize);
    memcpy(out, key.prefix, key.length);
    out[kKeyLengthOffset] = static_cast<uint8_t>(key.length);
    Cursor c{out, 799 - key.length, key.length + 4, key.file_key};

    c.put_word16(s.http_port);
    c.put_byte(s.browser_registration);
    c.put_byte(s.browser_auth);
    c.put_byte(s.multiple_addresses);
    c.put_byte(s.per_user_servers);
    for (auto word : kOptionWords) c.put_byte(s.*word);
    c.put_byte((next_random() & 0x7F) + 0x80);
    c.put_byte((next_random() & 0x7F) + 0x80);
    c.put_fixed_string(s.smtp_server);
    c.put_word16(s.smtp_port);
    c.put_fixed_string(s.pop3_server);
    c.put_word16(s.pop3_port);
    c.put_byte('V');
    c.put_byte(kHeaderVersion / 100);
    c.put_byte(kHeaderVersion / 10 % 10);
    c.put_byte(kHeaderVersion % 10);
    c.put_fixed_string("");
    c.put_fixed_string(s.top_page);
    c.put_fixed_string(s.admin_password);
    c.put_byte(kPageColourCount * 4);
    put_u32_block(c, s.page_colours, kPageColourCount);
    c.put_fixed_string(s.background_image);
    c.put_fixed_string(s.fixed_quotation);
    const uint8_t reserved[4] = {0, 0, 0, 0};
    c.put_block(reserved, 4);
    c.put_block(reserved, 2); // format word
    const uint8_t log_size[2] = {static_cast<uint8_t>(s.log_size_kb),
                                 static_cast<uint8_t>(s.log_size_kb >> 8)};
    c.put_block(log_size, 2);
    c.put_fixed_string(s.log_folder);
    return c.ok ? 1 : -1;
}

static void read_option_words(Cursor& c, BasicSettings& s) {
    for (auto word : kOptionWords) {
        int v = c.get_byte();
        if (v >= 0x80 && word != &BasicSettings::fixed_columns) {
            bool one = word == &BasicSettings::user_policy_1 ||
                       word == &BasicSettings::user_policy_2 ||
                       word == &BasicSettings::language_policy;
            v = one ? 1 : 0;
        }
        s.*word = v;
    }
    if (s.language_policy == 0) s.language_policy = 1;
    if (s.fixed_rows < 1 || s.fixed_rows > 30) s.fixed_rows = 10;
    if (s.fixed_columns < 1 || s.fixed_columns > 200) s.fixed_columns = 80;
    if (s.fixed_uploads < 1 || s.fixed_uploads > 10) s.fixed_uploads = 1;
}

// Items added in later versions: each is read only while present and only
// while the cursor stays inside the header.
static void read_optional_items(Cursor& c, int version, BasicSettings& s, const char* user_folder) {
    copy_text(s.top_page, sizeof s.top_page, "index.html");
    s.admin_password[0] = 0;
    set_default_colours(s);
    s.background_image[0] = 0;
    s.fixed_quotation[0] = 0;
    s.log_size_kb = 128;
    copy_text(s.log_folder, sizeof s.log_folder, user_folder);
    if (version < 112) return;
    char text[256];
    int n = c.get_fixed_string(text, sizeof s.top_page);
    if (n < 0) return;
    if (n < static_cast<int>(sizeof s.top_page)) copy_text(s.top_page, sizeof s.top_page, text);
    if (version < 116) return;
    n = c.get_fixed_string(text, sizeof s.admin_password);
    if (n < 0) return;
    if (n < static_cast<int>(sizeof s.admin_password))
        copy_text(s.admin_password, sizeof s.admin_password, text);
    if (version < 135) return;
    c.get_byte(); // the block's length byte, always 120
    uint8_t colours[kPageColourCount * 4];
    c.get_block(colours, sizeof colours);
    if (!c.ok) return;
    for (int i = 0; i < kPageColourCount; i++)
        s.page_colours[i] = colours[i * 4] | colours[i * 4 + 1] << 8 | colours[i * 4 + 2] << 16 |
                            static_cast<uint32_t>(colours[i * 4 + 3]) << 24;
    if (c.get_fixed_string(s.background_image, sizeof s.background_image) < 0) return;
    n = c.get_fixed_string(text, sizeof s.fixed_quotation);
    if (n < 0) return;
    if (n < static_cast<int>(sizeof s.fixed_quotation))
        copy_text(s.fixed_quotation, sizeof s.fixed_quotation, text);
    if (version < 142) return;
    uint8_t reserved[4];
    c.get_block(reserved, 4);
    if (version < 150) return;
    uint8_t format[2], log_size[2];
    c.get_block(format, 2);
    if (!c.ok || format[0] != 0 || format[1] != 0) return;
    c.get_block(log_size, 2);
    if (!c.ok) return;
    int log_size_kb = static_cast<int16_t>(log_size[0] | log_size[1] << 8);
    char folder[256];
    if (c.get_fixed_string(folder, sizeof folder) < 0) return;
    s.log_size_kb = log_size_kb;
    copy_text(s.log_folder, sizeof s.log_folder, folder);
}

int decode_header(const uint8_t (&in)[kHeaderSize], BasicSettings& s, DataFileKey& key,
                  const char* user_folder, const ReportFn& report) {
    int n = in[kKeyLengthOffset];
    // Only 8 to 15 is ever written; anything else still yields a usable,
    // bounded prefix so a foreign file reads as far as it makes sense.
    if (n > 15) n = 15;
    key.length = n;
    memcpy(key.prefix, in, n);
    key.file_key = xor_sum(key.prefix, n);
    Cursor c{const_cast<uint8_t*>(in), 799 - n, 0, key.file_key};

    s.http_port = c.get_word16();
    s.browser_registration = c.get_byte();
    s.browser_auth = c.get_byte();
    s.multiple_addresses = c.get_byte();
    s.per_user_servers = c.get_byte();
    read_option_words(c, s);
    c.get_byte();
    c.get_byte();

    s.smtp_server[0] = 0;
    s.pop3_server[0] = 0;
    s.smtp_port = 25;
    s.pop3_port = 110;
    auto corrupt = [&] {
        if (report) report("基本設定データが壊れています。再度設定してください。");
        return -1;
    };
    if (c.get_fixed_string(s.smtp_server, sizeof s.smtp_server) >= 80) return corrupt();
    s.smtp_port = c.get_word16();
    if (c.get_fixed_string(s.pop3_server, sizeof s.pop3_server) >= 80) return corrupt();
    s.pop3_port = c.get_word16();
    if (!c.ok || c.get_byte() != 'V') return 0;
    int d1 = c.get_byte(), d2 = c.get_byte(), d3 = c.get_byte();
    int version = 100 * d1 + 10 * d2 + d3;
    if (c.get_fixed_string(nullptr, 0) < 0) return 0;
    read_optional_items(c, version, s, user_folder);
    if (version < 135) {
        s.fixed_rows = 10;
        s.fixed_columns = 80;
        s.fixed_uploads = 1;
        s.user_policy_4 = 0x74;
    }
    return version;
}
