// Reading user slots from images the store did not write: foreign_slots.ref
// is a header followed by the slots below, in this order.
#include "server/server_cases.h"
#include "store/store_fixture.h"
#include "store/user_slot.h"
#include <array>

namespace {

using namespace store_test;

enum Slot : int {
    u_first,
    u_last,
    u_book_none,
    u_book_57,
    u_book_256,
    u_book_2000,
    u_book_overflow,
    alice,
    carol,
    bob_long_field, // ten slots, one over-long field each
    bob_long_book = bob_long_field + 10,
    bob_sjis_id, // id 山田, password too long
    a_long_id,
    b,
    c_long_id,
    d,
    zero_upload,
    reserved_overflow, // reserved string A filled in sets 1 and 2
    reserved_inline,
    one_char_book,
};

class StoreLoadUsersTest : public DataStoreTest {
protected:
    const std::string images = image("foreign_slots.ref");
    const uint8_t key = key_of(images).file_key;

    int load_slots(std::initializer_list<int> slots) {
        std::string file = images.substr(0, kHeaderSize);
        for (int s : slots) file += images.substr(kHeaderSize + size_t{kSlotSize} * s, kSlotSize);
        return load(file);
    }
};

TEST_F(StoreLoadUsersTest, UsersWithEveryKindOfBook) {
    for (const auto& c : SERVER_CASES("book_kinds.ref")) {
        SCOPED_TRACE(c.at(0));
        const size_t length = std::stoul(c.at(2));
        messages.clear();
        Users want;
        want.push_back(sample_user("u.first", 4));
        want.push_back(sample_user("u.book", 1));
        want.push_back(sample_user("u.last", 2));
        std::remove(adr_path("u.book").c_str());
        if (c.at(3) == "1") put_file(adr_path("u.book"), book_of_length(length));
        ASSERT_EQ(load_slots({u_first, std::stoi(c.at(1)), u_last}), kLoadOk);
        if (c.at(4) == "1") want[1]->address_book = book_of_length(length);
        expect_users_are(want);
        EXPECT_TRUE(messages.empty());
    }
}

TEST_F(StoreLoadUsersTest, CorruptSlotsAreDroppedAndReported) {
    // bob sits between two intact users; the message names him by id when
    // his ids are readable, else by his number among the slots.
    auto expect_dropped = [&](int bob, const std::string& who) {
        SCOPED_TRACE("slot " + std::to_string(bob));
        messages.clear();
        ASSERT_EQ(load_slots({alice, bob, carol}), kLoadOk);
        expect_users({sample_user("alice", 1).get(), sample_user("carol", 3).get()});
        EXPECT_EQ(messages,
                  std::vector<std::string>{who + "のデータが壊れています。\n削除します。"});
        EXPECT_FALSE(ds.slots_in_sync);
    };
    // The first two over-long fields are ids.
    for (int i = 0; i < 10; i++)
        expect_dropped(bob_long_field + i, i < 2 ? "2 番目のユーザー" : "ユーザー bob ");
    expect_dropped(bob_long_book, "ユーザー bob "); // runs past the slot's start
    expect_dropped(bob_sjis_id, "ユーザー 山田 ");
}

TEST_F(StoreLoadUsersTest, NumberedMessageCountsUsersLoadedSoFar) {
    ASSERT_EQ(load_slots({a_long_id, b, c_long_id, d}), kLoadOk);
    expect_users({sample_user("b", 1).get(), sample_user("d", 3).get()});
    const std::string tail = " 番目のユーザーのデータが壊れています。\n削除します。";
    EXPECT_EQ(messages, (std::vector<std::string>{"1" + tail, "2" + tail}));
}

TEST_F(StoreLoadUsersTest, UploadNumberZeroReadsAsOne) {
    ASSERT_EQ(load_slots({zero_upload}), kLoadOk);
    auto want = sample_user("zero", 2);
    want->options[upload_no] = 1;
    expect_users({want.get()});
}

TEST_F(StoreLoadUsersTest, TextInSettings1ReservedStringIsDroppedSoTheSlotWritesBack) {
    // With no book, Settings 1's book item is one 0 byte and the byte below
    // it, the length of reserved string A, must be 0 as well. A slot whose
    // overflow file is gone leaves no book; text kept in reserved A would
    // then be written where the reader takes it for an inline book.
    for (int slot : {reserved_overflow, reserved_inline}) {
        SCOPED_TRACE(slot == reserved_overflow ? "missing overflow file" : "inline book");
        std::remove(adr_path("reserved").c_str());
        ASSERT_EQ(load_slots({slot}), kLoadOk);
        auto want = sample_user("reserved", 1);
        strcpy(want->set[1].reserved_a, "kept");
        if (slot == reserved_inline) want->address_book = book_of_length(40);
        expect_users({want.get()});

        ASSERT_EQ(users().size(), 1u);
        UserRecord& loaded = *users()[0];
        loaded.address_book.clear();
        uint8_t bytes[kSlotSize];
        ASSERT_EQ(encode_user_slot(loaded, key, ds.user_folder.c_str(), bytes), kSlotOk);
        UserRecord back;
        ASSERT_EQ(decode_user_slot(bytes, key, ds.user_folder.c_str(), back), kSlotOk);
        want->address_book.clear();
        EXPECT_EQ(record_diff(back, *want), "");
    }
}

TEST_F(StoreLoadUsersTest, OverflowMarkerNeedsItsZeroByte) {
    // A one-character book looks like the overflow marker except for its
    // character byte; only a 0 there means the file.
    ASSERT_NE(key, 'x');
    put_file(adr_path("one.char"), "adr");
    ASSERT_EQ(load_slots({one_char_book}), kLoadOk);
    auto want = sample_user("one.char", 0);
    want->address_book = "x";
    expect_users({want.get()});
}

// Reading the settings header, from images the store did not write: older
// versions and damaged files.

class StoreLoadHeaderTest : public DataStoreTest {
protected:
    // Loads a lone header and checks the key its prefix gives.
    void load_header(const std::string& header) {
        ASSERT_EQ(header.size(), size_t{kHeaderSize});
        ASSERT_EQ(load(header), kLoadOk);
        const DataFileKey want = key_of(header);
        EXPECT_EQ(ds.key.length, want.length);
        EXPECT_EQ(ds.key.file_key, want.file_key);
    }
    // The settings loaded where they differ from the sample ones, the user
    // folder (a new file's log folder) written as "<user>".
    std::vector<std::string> changed() {
        std::vector<std::string> lines =
            changes(dump(ds.settings), dump(sample_settings(ds.user_folder)));
        for (std::string& l : lines)
            if (size_t at = l.find(ds.user_folder); at != std::string::npos)
                l.replace(at, ds.user_folder.size(), "<user>");
        return lines;
    }
};

// images/old_versions.ref: the sample settings at each version an item
// appears with and the one just before it, over random filler, filler 1 (a
// short non-empty string) and filler equal to the key (a zero format word).
// version_defaults.ref: the items each version loads with defaults.
TEST_F(StoreLoadHeaderTest, OlderVersionsGetDefaultsForMissingItems) {
    const std::string images = image("old_versions.ref");
    const auto versions = SERVER_CASES("version_defaults.ref");
    for (size_t filler = 0; filler < 3; filler++) {
        for (size_t v = 0; v < versions.size(); v++) {
            const auto& c = versions[v];
            SCOPED_TRACE("version " + c.at(0) + " filler " + std::to_string(filler));
            load_header(piece(images, filler * versions.size() + v, kHeaderSize));
            EXPECT_EQ(changed(), std::vector<std::string>(c.begin() + 1, c.end()));
            EXPECT_TRUE(messages.empty());
        }
    }
}

TEST_F(StoreLoadHeaderTest, OptionBytesOutOfRangeKeepTheirDefaults) {
    // The option bytes are stored plain, one below the other after the port
    // and the four flags.
    const std::string header = piece(image("headers.ref"), 4, kHeaderSize);
    const int first_option = 793 - key_of(header).length;
    const int initial[kOptionWordCount] = {0, 0, 1, 1, 0, 0, 0, 0, 0, 1, 0, 0, 10, 80, 1, 0, 0, 0};
    const int fixed_columns = 13;
    std::vector<std::array<int, 3>> all; // option, stored, want (-1: as in a new file)
    for (const auto& c : SERVER_CASES("option_bytes.ref"))
        all.push_back(
            {std::stoi(c.at(0)), std::stoi(c.at(1), nullptr, 0), std::stoi(c.at(2), nullptr, 0)});
    // Every option byte with its top bit set is no value.
    for (int i = 0; i < kOptionWordCount; i++) {
        if (i != fixed_columns) all.push_back({i, 0x80, -1});
        all.push_back({i, 0xFF, -1});
    }
    for (const auto& [option, stored, want] : all) {
        SCOPED_TRACE("option " + std::to_string(option) + " = " + std::to_string(stored));
        std::string patched = header;
        patched[first_option - option] = static_cast<char>(stored);
        load_header(patched);
        BasicSettings s = sample_settings(ds.user_folder);
        s.*kOptionWords[option] = want < 0 ? initial[option] : want;
        EXPECT_EQ(settings_diff(ds.settings, s), "");
    }
}

// header_damage.ref: the damage in the order of damaged_headers.ref, whether
// it is reported, and the settings it changes: everything from the damage
// on keeps the defaults of a new file.
TEST_F(StoreLoadHeaderTest, DamagedHeaders) {
    const std::string corrupt = "基本設定データが壊れています。再度設定してください。";
    const std::string images = image("damaged_headers.ref");
    const auto cases = SERVER_CASES("header_damage.ref");
    for (size_t i = 0; i < cases.size(); i++) {
        const auto& c = cases[i];
        SCOPED_TRACE(c.at(0));
        messages.clear();
        load_header(piece(images, i, kHeaderSize));
        EXPECT_EQ(changed(), std::vector<std::string>(c.begin() + 2, c.end()));
        EXPECT_EQ(messages,
                  c.at(1) == "1" ? std::vector<std::string>{corrupt} : std::vector<std::string>{});
    }
}

TEST_F(StoreLoadHeaderTest, AbsentFile) {
    EXPECT_EQ(load_data_file(ds), kLoadAbsent);
    EXPECT_TRUE(messages.empty());
}

} // namespace
