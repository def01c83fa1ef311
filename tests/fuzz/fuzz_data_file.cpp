// Arbitrary bytes as a data file, cut the way the loader cuts it: the first
// 800 bytes as the header, every complete 4000-byte slot after it. Besides
// memory safety it checks that whatever the readers accept survives the
// writers: decode(encode(decode(x))) == decode(x).
#include "store/header_codec.h"
#include "store/user_slot.h"
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

// Never exists, so overflow books are neither read nor written.
const char* const kUserFolder = "/nonexistent/tarnbox-fuzz/user";

void check(bool ok) {
    if (!ok) abort();
}

bool same_text(const char* a, const char* b, size_t cap) {
    return strnlen(a, cap) < cap && strnlen(b, cap) < cap && strcmp(a, b) == 0;
}

bool same_settings(const BasicSettings& a, const BasicSettings& b) {
    bool same = a.http_port == b.http_port && a.browser_registration == b.browser_registration &&
                a.browser_auth == b.browser_auth && a.multiple_addresses == b.multiple_addresses &&
                a.per_user_servers == b.per_user_servers && a.smtp_port == b.smtp_port &&
                a.pop3_port == b.pop3_port && a.log_size_kb == b.log_size_kb &&
                memcmp(a.page_colours, b.page_colours, sizeof a.page_colours) == 0;
    for (auto word : kOptionWords) same = same && a.*word == b.*word;
    return same && same_text(a.smtp_server, b.smtp_server, sizeof a.smtp_server) &&
           same_text(a.pop3_server, b.pop3_server, sizeof a.pop3_server) &&
           same_text(a.top_page, b.top_page, sizeof a.top_page) &&
           same_text(a.admin_password, b.admin_password, sizeof a.admin_password) &&
           same_text(a.background_image, b.background_image, sizeof a.background_image) &&
           same_text(a.fixed_quotation, b.fixed_quotation, sizeof a.fixed_quotation) &&
           same_text(a.log_folder, b.log_folder, sizeof a.log_folder);
}

bool same_set(const SettingsSet& a, const SettingsSet& b) {
    return same_text(a.id, b.id, sizeof a.id) &&
           same_text(a.password, b.password, sizeof a.password) &&
           same_text(a.name, b.name, sizeof a.name) &&
           same_text(a.mail_address, b.mail_address, sizeof a.mail_address) &&
           same_text(a.smtp_name, b.smtp_name, sizeof a.smtp_name) &&
           same_text(a.pop3_name, b.pop3_name, sizeof a.pop3_name) &&
           same_text(a.signature, b.signature, sizeof a.signature) &&
           same_text(a.quotation, b.quotation, sizeof a.quotation) &&
           same_text(a.reserved_a, b.reserved_a, sizeof a.reserved_a) &&
           same_text(a.reserved_b, b.reserved_b, sizeof a.reserved_b) &&
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
