// The store's writer and reader against golden images: with the generator
// seeded alike, the writer must reproduce each image byte for byte, and the
// reader must give back what was written.
#include "store/scramble.h"
#include "store/store_fixture.h"
#include "store/user_slot.h"
#include <cstring>
#include <filesystem>

namespace {

using namespace store_test;

std::string bytes_of(const uint8_t* p, size_t n) {
    return std::string(reinterpret_cast<const char*>(p), n);
}

class StoreWriterTest : public DataStoreTest {
protected:
    // users.ref: the sample settings and users user0 to user3, variants 0 to 3.
    Users load_users(const std::string& tail = {}) {
        Users slots;
        for (int i = 0; i < 4; i++) slots.push_back(sample_user("user" + std::to_string(i), i));
        EXPECT_EQ(load(image("users.ref") + tail), kLoadOk);
        return slots;
    }
};

TEST_F(StoreWriterTest, UsersImageIsWhatTheWriterMakes) {
    ds.key = key_of(image("users.ref"));
    ds.settings = sample_settings(ds.user_folder);
    seed_random(1);
    ASSERT_EQ(save_basic_settings(ds), 1);
    for (int i = 0; i < 4; i++)
        append_user(ds.users, sample_user("user" + std::to_string(i), i).release());
    ASSERT_EQ(rewrite_data_file(ds), 1);
    EXPECT_GOLDEN("images/users.ref", golden::read(ds.data_path));
}

// For every prefix length, and prefixes whose XOR is 0: headers.ref holds the
// sample settings and the changed ones of samples.ref for each, in turn.
TEST_F(StoreWriterTest, HeaderRoundTripForEveryKeyLength) {
    BasicSettings changed = sample_settings(ds.user_folder);
    set_fields(changed, sample("changed settings"));
    const std::string headers = image("headers.ref");
    const std::string tail(123, '\xEE');
    for (int k = 0; k < 16; k++) {
        const int n = 8 + k / 2;
        const bool zero_xor = k % 2;
        SCOPED_TRACE("N=" + std::to_string(n) + (zero_xor ? " zero xor" : ""));
        const std::string sample = piece(headers, 2 * k, kHeaderSize);
        ASSERT_EQ(load(sample + tail), kLoadOk);
        EXPECT_EQ(dump_diff(ds.settings, sample_settings(ds.user_folder)), "");
        EXPECT_EQ(ds.key.length, n);
        if (zero_xor) {
            EXPECT_EQ(ds.key.file_key, 0x78);
        }
        EXPECT_EQ(ds.key.file_key, key_of(sample).file_key);
        uint8_t header[kHeaderSize];
        seed_random(1);
        ASSERT_EQ(encode_header(ds.settings, ds.key, header), 1);
        EXPECT_EQ(golden::compare("sample header", sample, bytes_of(header, kHeaderSize)), "");

        ds.settings = changed;
        seed_random(1);
        ASSERT_EQ(save_basic_settings(ds), 1);
        EXPECT_EQ(golden::compare("changed header", piece(headers, 2 * k + 1, kHeaderSize) + tail,
                                  golden::read(ds.data_path)),
                  "");
        ASSERT_EQ(load_data_file(ds), kLoadOk);
        EXPECT_EQ(dump_diff(ds.settings, changed), "");
        EXPECT_TRUE(messages.empty());
    }
}

// slots.ref: for the file keys 0x78, 0x80 and 0x3C, the cases below in turn.
TEST_F(StoreWriterTest, SlotsRoundTripThroughTheirImages) {
    Users cases;
    for (int v = 0; v < 5; v++) cases.push_back(sample_user("person" + std::to_string(v), v));
    // Ids whose bytes XOR to 0x80 and to 0 (empty): their steps are special.
    // They are user 1 with Settings 2 lacking its id, Settings 3 sharing it.
    cases.push_back(sample_record("steps", "\xb1\x31"));
    // The last goes to the overflow file.
    for (size_t len : {1u, 255u, 256u, 2000u, 2001u}) {
        cases.push_back(sample_user("booker", 3));
        cases.back()->address_book = book_of_length(len);
    }
    const std::string slots = image("slots.ref");
    size_t k = 0;
    for (uint8_t file_key : {uint8_t{0x78}, uint8_t{0x80}, uint8_t{0x3C}}) {
        for (const auto& r : cases) {
            SCOPED_TRACE(std::string(r->set[0].id) + " key " + std::to_string(file_key) + " book " +
                         std::to_string(r->address_book.size()));
            const std::string want = piece(slots, k++, kSlotSize);
            uint8_t slot[kSlotSize];
            seed_random(1);
            ASSERT_EQ(encode_user_slot(*r, file_key, ds.user_folder.c_str(), slot), kSlotOk);
            EXPECT_EQ(golden::compare("slot", want, bytes_of(slot, kSlotSize)), "");
            if (r->address_book.size() > kBookInSlot) {
                EXPECT_EQ(golden::read(adr_path("booker")), r->address_book);
            }
            UserRecord back;
            memcpy(slot, want.data(), kSlotSize);
            ASSERT_EQ(decode_user_slot(slot, file_key, ds.user_folder.c_str(), back), kSlotOk);
            EXPECT_EQ(dump_diff(back, *r), "");
        }
    }
}

TEST_F(StoreWriterTest, SlotFillsExactlyToItsFirstByte) {
    // The longest record leaves this much of the slot for its book.
    const size_t fits = 1387;
    auto r = sample_record("full", "edge");
    uint8_t slot[kSlotSize];
    r->address_book = book_of_length(fits);
    seed_random(1);
    ASSERT_EQ(encode_user_slot(*r, 0x42, ds.user_folder.c_str(), slot), kSlotOk);
    EXPECT_GOLDEN("images/full_slot.ref", bytes_of(slot, kSlotSize));
    r->address_book = book_of_length(fits + 1);
    EXPECT_EQ(encode_user_slot(*r, 0x42, ds.user_folder.c_str(), slot), kSlotTooLarge);
}

TEST_F(StoreWriterTest, CreateThenLoad) {
    ds.settings = sample_settings(ds.user_folder);
    ASSERT_EQ(create_data_file(ds), 1);
    EXPECT_EQ(golden::read(ds.data_path).size(), 800u);
    const DataFileKey made = ds.key;
    EXPECT_GE(made.length, 8);
    EXPECT_LE(made.length, 15);
    ASSERT_EQ(load_data_file(ds), kLoadOk);
    EXPECT_EQ(dump_diff(ds.settings, sample_settings(ds.user_folder)), "");
    EXPECT_EQ(ds.key.file_key, made.file_key);
    EXPECT_EQ(count_users(ds.users), 0);
}

TEST_F(StoreWriterTest, WriteUserSlotTouchesOnlyItsSlotOrAppends) {
    Users slots = load_users(std::string(77, '\x11'));
    const std::string before = golden::read(ds.data_path);
    strcpy(slots[1]->set[0].name, "\x8d\xb2\x93\xa1 (changed)");
    slots[1]->set[2] = slots[1]->set[0];
    strcpy(slots[1]->set[2].id, "third");
    slots[1]->options[row_count] = 30;
    UserRecord* r = find_user(ds.users, "user1");
    ASSERT_NE(r, nullptr);
    auto changed = copy_of(*slots[1]);
    changed->position = r->position;
    ASSERT_EQ(write_user_slot(ds, *changed), 1);

    const std::string after = golden::read(ds.data_path);
    ASSERT_EQ(after.size(), before.size());
    EXPECT_EQ(after.substr(0, 4800), before.substr(0, 4800));
    EXPECT_EQ(after.substr(8800), before.substr(8800));
    expect_reload(slots);

    slots.push_back(sample_user("newcomer", 7));
    r = copy_of(*slots.back()).release();
    append_user(ds.users, r);
    renumber_users(ds.users);
    ASSERT_EQ(write_user_slot(ds, *r), 1);
    EXPECT_EQ(golden::read(ds.data_path).size(), 800u + 5 * 4000);
    expect_reload(slots);
}

TEST_F(StoreWriterTest, RewriteAfterRemovingAUserInTheMiddle) {
    Users slots = load_users(std::string(10, '\0'));
    const std::string before = golden::read(ds.data_path);
    // A busy user stays; ids are matched exactly.
    auto busy = [](const UserRecord* r) { return strcmp(r->set[0].id, "user2") == 0; };
    for (auto [id, removed] : {std::pair{"user2", 0}, {"nobody", 0}, {"user1", 1}})
        ASSERT_EQ(remove_user(ds.users, id, busy), removed) << id;
    for (auto [id, kept] : {std::pair{"user1", false}, {"user2", true}, {"USER2", false}})
        EXPECT_EQ(find_user(ds.users, id) != nullptr, kept) << id;
    ASSERT_EQ(rewrite_data_file(ds), 1);
    slots.erase(slots.begin() + 1);
    std::vector<int> positions;
    for (UserRecord* r : users()) positions.push_back(r->position);
    EXPECT_EQ(positions, (std::vector<int>{0, 1, 2}));

    const std::string after = golden::read(ds.data_path);
    ASSERT_EQ(after.size(), 800u + 3 * 4000);
    EXPECT_EQ(after.substr(0, 800), before.substr(0, 800));
    expect_reload(slots);
}

TEST_F(StoreWriterTest, BookMovesBetweenSlotAndOverflowFile) {
    Users slots = load_users();
    for (size_t len : {2001u, 2000u}) {
        SCOPED_TRACE(len);
        UserRecord* r = find_user(ds.users, "user1");
        ASSERT_NE(r, nullptr);
        r->address_book = book_of_length(len);
        slots[1]->address_book = r->address_book;
        ASSERT_EQ(write_user_slot(ds, *r), 1);
        if (len > kBookInSlot) {
            EXPECT_EQ(golden::read(adr_path("user1")), r->address_book);
        } else {
            EXPECT_FALSE(std::filesystem::exists(adr_path("user1")));
        }
        expect_reload(slots);
    }
}

// Settings too long for the header, a record too large for its slot.
TEST_F(StoreWriterTest, WhatDoesNotFitIsRefused) {
    Users slots = load_users();
    const std::string before = golden::read(ds.data_path);
    const BasicSettings fitting = ds.settings;
    strcpy(ds.settings.background_image, std::string(255, 'b').c_str());
    strcpy(ds.settings.log_folder, std::string(255, 'f').c_str());
    strcpy(ds.settings.smtp_server, std::string(79, 's').c_str());
    EXPECT_EQ(save_basic_settings(ds), -1);
    EXPECT_EQ(golden::read(ds.data_path), before);
    EXPECT_EQ(messages.size(), 1u);
    ds.settings = fitting;
    UserRecord* r = sample_record("full", "dept/" + std::string(34, 'i')).release();
    r->address_book = book_of_length(2001); // "/" in the id: no overflow file possible
    append_user(ds.users, r);
    renumber_users(ds.users);

    EXPECT_EQ(write_user_slot(ds, *r), kSlotTooLarge);
    EXPECT_EQ(golden::read(ds.data_path), before);
    EXPECT_EQ(rewrite_data_file(ds), -1);
    EXPECT_EQ(golden::read(ds.data_path), before);
    for (auto& e : std::filesystem::recursive_directory_iterator(home))
        EXPECT_NE(e.path().extension(), ".adr") << e.path();
    EXPECT_EQ(messages.size(), 3u);
    expect_reload(slots);
}

TEST_F(StoreWriterTest, FailedWritesLeaveTheOldFileAndItsOverflowBook) {
    Users slots = load_users();
    UserRecord* r = find_user(ds.users, "user1");
    r->address_book = book_of_length(3000);
    ASSERT_EQ(write_user_slot(ds, *r), 1);
    slots[1]->address_book = r->address_book;
    const std::string before = golden::read(ds.data_path);
    // As root a read-only folder does not stop a write; a directory where
    // the temporary file must go does.
    std::filesystem::create_directory(ds.data_path + ".new");

    ds.settings.http_port = 81;
    EXPECT_EQ(save_basic_settings(ds), -1);
    // The shorter book would go into the slot, but the file on disk still
    // points at the overflow file, which must survive.
    strcpy(r->set[0].name, "changed");
    r->address_book = book_of_length(100);
    EXPECT_EQ(write_user_slot(ds, *r), -1);
    ASSERT_EQ(remove_user(ds.users, "user0"), 1);
    EXPECT_EQ(rewrite_data_file(ds), -1);
    EXPECT_EQ(messages.size(), 3u);
    EXPECT_EQ(golden::read(ds.data_path), before);

    std::filesystem::remove(ds.data_path + ".new");
    expect_reload(slots);
}

} // namespace
