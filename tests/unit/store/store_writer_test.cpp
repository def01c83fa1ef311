// The store's own writer, checked byte for byte against the independent
// image builder and by reading back what it wrote.
#include "store/store_fixture.h"
#include "store/user_slot.h"
#include <cstring>
#include <filesystem>

namespace {

using namespace store_test;
namespace img = store_image;

using img::Book;
using img::SlotDesc;

// Every field at its longest: about 2650 bytes before any book.
SlotDesc full_user(const std::string& id0) {
    SlotDesc d;
    for (int s = 0; s < 3; s++) {
        img::SetDesc& set = d.set[s];
        set.id = s == 0 ? id0 : std::string(39, 'i');
        set.password = std::string(39, 'p');
        set.name = std::string(39, 'n');
        set.mail_address = std::string(79, 'm');
        set.smtp_name = std::string(79, 's');
        set.pop3_name = std::string(79, 'o');
        set.signature = std::string(499, 'g');
    }
    return d;
}

class StoreWriterTest : public DataStoreTest {
protected:
    const img::Bytes prefix = img::make_prefix(13, 4242);

    // A file with users from the builder, loaded into ds.
    std::vector<SlotDesc> load_users(int n, const img::Bytes& tail = {}) {
        std::vector<SlotDesc> slots;
        for (int i = 0; i < n; i++) slots.push_back(sample_user("user" + std::to_string(i), i));
        EXPECT_EQ(load(file_of(slots, prefix, tail)), kLoadOk);
        return slots;
    }
    void expect_reload(const std::vector<SlotDesc>& want) {
        ASSERT_EQ(load_data_file(ds), kLoadOk);
        expect_users(want);
    }
    std::string slot_diff(const img::Bytes& file, int position, const SlotDesc& d) {
        size_t off = 800 + 4000 * static_cast<size_t>(position);
        if (file.size() < off + 4000) return "file too short";
        return meaningful_diff(file.data() + off, img::build_slot(d, ds.key.file_key));
    }
};

// For every prefix length, and prefixes whose XOR is 0: the reader takes the
// builder's header, and saving other settings writes the builder's header for
// them and keeps everything from byte 800 on.
TEST_F(StoreWriterTest, HeaderRoundTripForEveryKeyLength) {
    img::HeaderDesc changed = sample_settings();
    changed.http_port = 443;
    changed.options[img::fixed_rows] = 30;
    changed.options[img::fixed_columns] = 200;
    changed.options[img::fixed_uploads] = 10;
    changed.smtp_server = std::string(79, 's');
    changed.admin_password = std::string(39, 'P');
    changed.fixed_quotation = "1234567";
    changed.background_image = std::string(100, 'b');
    changed.log_folder = std::string(200, 'f');
    changed.log_size_kb = -1;
    for (int n = 8; n <= 15; n++) {
        for (bool zero_xor : {false, true}) {
            SCOPED_TRACE("N=" + std::to_string(n) + (zero_xor ? " zero xor" : ""));
            const img::Bytes p = img::make_prefix(n, 40 + n, zero_xor);
            std::vector<SlotDesc> slots = {sample_user("alice", n), sample_user("bob", n + 1)};
            const img::Bytes before = file_of(slots, p, img::Bytes(123, 0xEE));
            ASSERT_EQ(load(before), kLoadOk);
            EXPECT_EQ(settings_diff(ds.settings, settings_of(sample_settings(), ds.user_folder)),
                      "");
            EXPECT_EQ(ds.key.length, n);
            EXPECT_EQ(ds.key.file_key, zero_xor ? 0x78 : img::file_key_of(p));
            expect_users(slots);

            ds.settings = settings_of(changed, ds.user_folder);
            ASSERT_EQ(save_basic_settings(ds), 1);
            const img::Bytes after = get_file(ds.data_path);
            ASSERT_EQ(after.size(), before.size());
            EXPECT_TRUE(std::equal(before.begin() + 800, before.end(), after.begin() + 800));
            EXPECT_EQ(meaningful_diff(after.data(), img::build_header(changed, p)), "");
            expect_reload(slots);
            EXPECT_EQ(settings_diff(ds.settings, settings_of(changed, ds.user_folder)), "");
            EXPECT_TRUE(messages.empty());
        }
    }
}

TEST_F(StoreWriterTest, SlotMatchesIndependentImage) {
    std::vector<SlotDesc> cases;
    for (int v = 0; v < 5; v++) cases.push_back(sample_user("person" + std::to_string(v), v));
    // Ids whose bytes XOR to 0x80 and to 0 (empty): their steps are special.
    SlotDesc steps = sample_user("\xb1\x31", 1);
    steps.set[1].id = "";
    steps.set[1].password = "secret of an empty id";
    steps.set[2].id = "\xb1\x31";
    steps.set[2].signature = "sig";
    cases.push_back(steps);
    for (size_t len : {1u, 255u, 256u, 2000u}) {
        SlotDesc d = sample_user("booker", 3);
        d.book = Book::inline_text;
        d.book_text = book_of_length(len);
        cases.push_back(d);
    }
    for (uint8_t file_key : {uint8_t{0x78}, uint8_t{0x80}, uint8_t{0x3C}}) {
        for (const SlotDesc& d : cases) {
            SCOPED_TRACE(std::string(d.set[0].id) + " key " + std::to_string(file_key) + " book " +
                         std::to_string(d.book_text.size()));
            // A one-character book equal to the key reads as the overflow marker.
            if (d.book_text.size() == 1 && uint8_t(d.book_text[0]) == file_key) continue;
            auto r = record_of(d);
            uint8_t slot[kSlotSize];
            ASSERT_EQ(encode_user_slot(*r, file_key, ds.user_folder.c_str(), slot), kSlotOk);
            EXPECT_EQ(meaningful_diff(slot, img::build_slot(d, file_key)), "");
            UserRecord back;
            ASSERT_EQ(decode_user_slot(slot, file_key, ds.user_folder.c_str(), back), kSlotOk);
            EXPECT_EQ(record_diff(back, d), "");
        }
    }
}

TEST_F(StoreWriterTest, SettingsTooLongForTheHeaderAreRefused) {
    load_users(1);
    const img::Bytes before = get_file(ds.data_path);
    memset(ds.settings.background_image, 'b', 255);
    ds.settings.background_image[255] = 0;
    memset(ds.settings.log_folder, 'f', 255);
    ds.settings.log_folder[255] = 0;
    memset(ds.settings.smtp_server, 's', 79);
    ds.settings.smtp_server[79] = 0;
    EXPECT_EQ(save_basic_settings(ds), -1);
    EXPECT_EQ(get_file(ds.data_path), before);
    EXPECT_EQ(messages.size(), 1u);
}

TEST_F(StoreWriterTest, CreateThenLoad) {
    img::HeaderDesc desc = sample_settings();
    ds.settings = settings_of(desc, ds.user_folder);
    ASSERT_EQ(create_data_file(ds), 1);
    EXPECT_EQ(get_file(ds.data_path).size(), 800u);
    const DataFileKey made = ds.key;
    EXPECT_GE(made.length, 8);
    EXPECT_LE(made.length, 15);
    ASSERT_EQ(load_data_file(ds), kLoadOk);
    EXPECT_EQ(settings_diff(ds.settings, settings_of(desc, ds.user_folder)), "");
    EXPECT_EQ(ds.key.file_key, made.file_key);
    EXPECT_EQ(count_users(ds.users), 0);
}

TEST_F(StoreWriterTest, WriteUserSlotTouchesOnlyItsSlotOrAppends) {
    std::vector<SlotDesc> slots = load_users(3, img::Bytes(77, 0x11));
    const img::Bytes before = get_file(ds.data_path);
    slots[1].set[0].name = "\x8d\xb2\x93\xa1 (changed)";
    slots[1].set[2] = slots[1].set[0];
    slots[1].set[2].id = "third";
    slots[1].options[row_count] = 30;
    UserRecord* r = find_user(ds.users, "user1");
    ASSERT_NE(r, nullptr);
    auto changed = record_of(slots[1]);
    changed->position = r->position;
    ASSERT_EQ(write_user_slot(ds, *changed), 1);

    const img::Bytes after = get_file(ds.data_path);
    ASSERT_EQ(after.size(), before.size());
    EXPECT_TRUE(std::equal(before.begin(), before.begin() + 4800, after.begin()));
    EXPECT_TRUE(std::equal(before.begin() + 8800, before.end(), after.begin() + 8800));
    EXPECT_EQ(slot_diff(after, 1, slots[1]), "");
    expect_reload(slots);

    slots.push_back(sample_user("newcomer", 7));
    r = record_of(slots.back()).release();
    append_user(ds.users, r);
    renumber_users(ds.users);
    ASSERT_EQ(write_user_slot(ds, *r), 1);
    EXPECT_EQ(get_file(ds.data_path).size(), 800u + 4 * 4000);
    expect_reload(slots);
}

TEST_F(StoreWriterTest, RewriteAfterRemovingAUserInTheMiddle) {
    std::vector<SlotDesc> slots = load_users(4, img::Bytes(10, 0));
    const img::Bytes before = get_file(ds.data_path);
    ASSERT_EQ(remove_user(ds.users, "user1"), 1);
    ASSERT_EQ(rewrite_data_file(ds), 1);
    slots.erase(slots.begin() + 1);
    std::vector<int> positions;
    for (UserRecord* r : users()) positions.push_back(r->position);
    EXPECT_EQ(positions, (std::vector<int>{0, 1, 2}));

    const img::Bytes after = get_file(ds.data_path);
    ASSERT_EQ(after.size(), 800u + 3 * 4000);
    EXPECT_TRUE(std::equal(before.begin(), before.begin() + 800, after.begin()));
    for (int i = 0; i < 3; i++) EXPECT_EQ(slot_diff(after, i, slots[i]), "") << i;
    expect_reload(slots);
}

TEST_F(StoreWriterTest, FirstWriteAfterADroppedSlotRewritesTheFile) {
    std::vector<SlotDesc> slots = {sample_user("alice", 0), sample_user("bob", 1),
                                   sample_user("carol", 2)};
    slots[1].set[0].password = std::string(40, 'p');
    const img::Bytes original = file_of(slots, prefix);
    ASSERT_EQ(load(original), kLoadOk);
    slots.erase(slots.begin() + 1);

    // Carol now sits at position 1, where bob's damaged slot still is: a
    // plain slot write would leave her old slot behind as a second carol.
    UserRecord* carol = find_user(ds.users, "carol");
    ASSERT_EQ(carol->position, 1);
    strcpy(carol->set[0].name, "Carol");
    slots[1].set[0].name = "Carol";
    ASSERT_EQ(write_user_slot(ds, *carol), 1);
    EXPECT_EQ(get_file(ds.data_path).size(), 800u + 2 * 4000);
    EXPECT_EQ(get_file(ds.data_path + ".damaged"), original);
    messages.clear();
    expect_reload(slots);
    EXPECT_TRUE(messages.empty());
}

TEST_F(StoreWriterTest, RemoveKeepsABusyUser) {
    load_users(3);
    auto busy = [](const UserRecord* r) { return strcmp(r->set[0].id, "user2") == 0; };
    EXPECT_EQ(remove_user(ds.users, "user2", busy), 0);
    EXPECT_EQ(remove_user(ds.users, "nobody", busy), 0);
    EXPECT_EQ(remove_user(ds.users, "user0", busy), 1);
    EXPECT_EQ(count_users(ds.users), 2);
    EXPECT_EQ(find_user(ds.users, "user0"), nullptr);
    EXPECT_NE(find_user(ds.users, "user2"), nullptr);
    EXPECT_EQ(find_user(ds.users, "USER2"), nullptr);
}

TEST_F(StoreWriterTest, BookMovesBetweenSlotAndOverflowFile) {
    std::vector<SlotDesc> slots = load_users(2);
    UserRecord* r = find_user(ds.users, "user1");
    ASSERT_NE(r, nullptr);

    r->address_book = book_of_length(2001);
    ASSERT_EQ(write_user_slot(ds, *r), 1);
    img::Bytes adr = get_file(adr_path("user1"));
    EXPECT_EQ(std::string(adr.begin(), adr.end()), r->address_book);
    slots[1].book = Book::overflow;
    slots[1].book_text = r->address_book;
    EXPECT_EQ(slot_diff(get_file(ds.data_path), 1, slots[1]), "");
    expect_reload(slots);

    r = find_user(ds.users, "user1");
    r->address_book = book_of_length(2000);
    ASSERT_EQ(write_user_slot(ds, *r), 1);
    EXPECT_FALSE(std::filesystem::exists(adr_path("user1")));
    slots[1].book = Book::inline_text;
    slots[1].book_text = r->address_book;
    EXPECT_EQ(slot_diff(get_file(ds.data_path), 1, slots[1]), "");
    expect_reload(slots);
}

TEST_F(StoreWriterTest, RecordTooLargeForItsSlotIsRefused) {
    std::vector<SlotDesc> slots = load_users(2);
    const img::Bytes before = get_file(ds.data_path);
    SlotDesc big = full_user("dept/" + std::string(34, 'i'));
    big.book = Book::inline_text;
    big.book_text = book_of_length(2001); // "/" in the id: no overflow file possible
    UserRecord* r = record_of(big).release();
    append_user(ds.users, r);
    renumber_users(ds.users);

    EXPECT_EQ(write_user_slot(ds, *r), kSlotTooLarge);
    EXPECT_EQ(get_file(ds.data_path), before);
    EXPECT_EQ(rewrite_data_file(ds), -1);
    EXPECT_EQ(get_file(ds.data_path), before);
    for (auto& e : std::filesystem::recursive_directory_iterator(home))
        EXPECT_NE(e.path().extension(), ".adr") << e.path();
    EXPECT_EQ(messages.size(), 2u);
    expect_reload(slots);
}

TEST_F(StoreWriterTest, SlotFillsExactlyToItsFirstByte) {
    SlotDesc d = full_user("edge");
    d.book = Book::inline_text;
    d.book_text = "a";
    const int used_by_one = kSlotSize - img::build_slot(d, 0x42).lowest;
    const size_t fits = 1 + static_cast<size_t>(kSlotSize - used_by_one);
    ASSERT_LE(fits, 2000u);
    for (size_t len : {fits, fits + 1}) {
        SCOPED_TRACE(len);
        d.book_text = book_of_length(len);
        img::Image img = img::build_slot(d, 0x42);
        auto r = record_of(d);
        uint8_t slot[kSlotSize];
        int result = encode_user_slot(*r, 0x42, ds.user_folder.c_str(), slot);
        if (img.lowest >= 0) {
            EXPECT_EQ(img.lowest, len == fits ? 0 : -1);
            ASSERT_EQ(result, kSlotOk);
            EXPECT_EQ(meaningful_diff(slot, img), "");
        } else {
            EXPECT_EQ(result, kSlotTooLarge);
        }
    }
}

TEST_F(StoreWriterTest, FailedWritesLeaveTheOldFileAndItsOverflowBook) {
    std::vector<SlotDesc> slots = load_users(3);
    UserRecord* r = find_user(ds.users, "user1");
    r->address_book = book_of_length(3000);
    ASSERT_EQ(write_user_slot(ds, *r), 1);
    slots[1].book = Book::overflow;
    slots[1].book_text = r->address_book;
    const img::Bytes before = get_file(ds.data_path);
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
    EXPECT_EQ(get_file(ds.data_path), before);

    std::filesystem::remove(ds.data_path + ".new");
    expect_reload(slots);
}

} // namespace
