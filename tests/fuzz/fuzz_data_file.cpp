// Arbitrary bytes as a data file, cut the way the loader cuts it: the first
// 800 bytes as the header, every complete 4000-byte slot after it. Besides
// memory safety it checks that whatever the readers accept survives the
// writers: decode(encode(decode(x))) == decode(x).
#include "../unit/store/record_dump.h"
#include "fuzz.h"
#include "store/header_codec.h"
#include "store/user_slot.h"

namespace {

// Never exists, so overflow books are neither read nor written.
const char* const kUserFolder = "/nonexistent/tarnbox-fuzz/user";

// What was read before and after the write: every text terminated, every
// field the same.
template <class T> bool same(const T& before, const T& after) {
    bool terminated = true, again = true;
    const std::string first = store_test::dump(before, &terminated);
    return first == store_test::dump(after, &again) && terminated && again;
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
    check(key_back.file_key == key.file_key && same(s, back));
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
    check(same(*r, *back));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < kHeaderSize) return 0;
    const uint8_t file_key = header_round_trip(data);
    for (size_t off = kHeaderSize; off + kSlotSize <= size; off += kSlotSize)
        slot_round_trip(data + off, file_key);
    return 0;
}
