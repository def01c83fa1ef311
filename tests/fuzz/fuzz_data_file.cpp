// Arbitrary bytes as a data file, cut the way the loader cuts it: the first
// 800 bytes as the header, every complete 4000-byte slot after it. Besides
// memory safety it checks that whatever the readers accept survives the
// writers: decode(encode(decode(x))) == decode(x).
#include "fuzz.h"
#include "store/header_codec.h"
#include "store/user_slot.h"

namespace {

// Never exists, so overflow books are neither read nor written.
const char* const kUserFolder = "/nonexistent/tarnbox-fuzz/user";

// The text fields of a and b that the member pointers name hold the same
// terminated text.
template <class T, class... Field> bool same_texts(const T& a, const T& b, Field... field) {
    const auto same = [](const char* x, const char* y, size_t cap) {
        return strnlen(x, cap) < cap && strnlen(y, cap) < cap && strcmp(x, y) == 0;
    };
    return (same(a.*field, b.*field, sizeof(a.*field)) && ...);
}

bool same_settings(const BasicSettings& a, const BasicSettings& b) {
    bool same = a.http_port == b.http_port && a.browser_registration == b.browser_registration &&
                a.browser_auth == b.browser_auth && a.multiple_addresses == b.multiple_addresses &&
                a.per_user_servers == b.per_user_servers && a.smtp_port == b.smtp_port &&
                a.pop3_port == b.pop3_port && a.log_size_kb == b.log_size_kb &&
                memcmp(a.page_colours, b.page_colours, sizeof a.page_colours) == 0;
    for (auto word : kOptionWords) same = same && a.*word == b.*word;
    using S = BasicSettings;
    return same &&
           same_texts(a, b, &S::smtp_server, &S::pop3_server, &S::top_page, &S::admin_password,
                      &S::background_image, &S::fixed_quotation, &S::log_folder);
}

bool same_set(const SettingsSet& a, const SettingsSet& b) {
    using S = SettingsSet;
    return same_texts(a, b, &S::id, &S::password, &S::name, &S::mail_address, &S::smtp_name,
                      &S::pop3_name, &S::signature, &S::quotation, &S::reserved_a,
                      &S::reserved_b) &&
           a.smtp_port == b.smtp_port && a.pop3_port == b.pop3_port && a.apop_flag == b.apop_flag &&
           a.mail_security == b.mail_security && a.smtp_auth == b.smtp_auth;
}

// Returns the file key the slots are read with.
uint8_t header_round_trip(const uint8_t* data) {
    uint8_t in[kHeaderSize];
    memcpy(in, data, kHeaderSize);
    BasicSettings s;
    set_default_settings(s, kUserFolder);
    DataFileKey key{};
    int version = decode_header(in, s, key, kUserFolder, nullptr);
    check(version >= -1 && key.length >= 0 && key.length <= 15);
    // The writer only ever makes prefixes of 8 to 15 bytes; shorter ones from
    // a damaged byte 794 would overlap the settings area.
    if (key.length < 8) return key.file_key;
    uint8_t out[kHeaderSize];
    if (encode_header(s, key, out) != 1) return key.file_key;
    BasicSettings back;
    set_default_settings(back, kUserFolder);
    DataFileKey key_back{};
    check(decode_header(out, back, key_back, kUserFolder, nullptr) == kHeaderVersion);
    check(key_back.file_key == key.file_key && same_settings(back, s));
    return key.file_key;
}

void slot_round_trip(const uint8_t* data, uint8_t file_key) {
    uint8_t in[kSlotSize];
    memcpy(in, data, kSlotSize);
    auto r = std::make_unique<UserRecord>();
    if (decode_user_slot(in, file_key, kUserFolder, *r) != kSlotOk) return;
    // A record read from a slot always fits one: nothing in it can grow.
    uint8_t out[kSlotSize];
    check(encode_user_slot(*r, file_key, kUserFolder, out) == kSlotOk);
    auto back = std::make_unique<UserRecord>();
    check(decode_user_slot(out, file_key, kUserFolder, *back) == kSlotOk);
    for (int s = 0; s < kSettingsSets; s++) check(same_set(back->set[s], r->set[s]));
    check(back->address_book == r->address_book);
    check(memcmp(back->options, r->options, kOptionBytes) == 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < kHeaderSize) return 0;
    const uint8_t file_key = header_round_trip(data);
    for (size_t off = kHeaderSize; off + kSlotSize <= size; off += kSlotSize)
        slot_round_trip(data + off, file_key);
    return 0;
}
