// The store's own writer, checked byte for byte against the independent
// image builder and by reading back what it wrote.
#include "store/scramble.h"
#include "store/store_fixture.h"
#include "store/user_slot.h"
#include <cstring>
#include <filesystem>

namespace {

using namespace store_test;
namespace img = store_image;

using img::Book;
using img::SlotDesc;

DataFileKey key_from(const img::Bytes& prefix) {
    DataFileKey k{};
    k.length = static_cast<int>(prefix.size());
    memcpy(k.prefix, prefix.data(), prefix.size());
    k.file_key = img::file_key_of(prefix);
    return k;
}

std::string book_of_length(size_t n) {
    std::string out;
    while (out.size() < n) out += "\x97\xe9\x96\xd8 <suzuki@example.jp>,ann <ann@example.org>,";
    out.resize(n);
    return out;
}

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

TEST(StoreScrambleTest, KeysAndSteps) {
    const uint8_t zero_xor[] = {0x12, 0x34, 0x26};
    EXPECT_EQ(xor_sum(zero_xor, 0), 0x78);
    EXPECT_EQ(xor_sum(zero_xor, 3), 0x78);
    EXPECT_EQ(xor_sum(zero_xor, 2), 0x26);

    struct Case {
        uint8_t step;
        uint8_t keys[4];
    } cases[] = {
        {0x00, {0x10, 0x10, 0x10, 0x10}},
        {0x80, {0x10, 0x65, 0xBA, 0x0F}},
        {0x81, {0x10, 0x91, 0x12, 0x93}},
    };
    const uint8_t src[4] = {0, 0, 0, 0};
    for (const Case& c : cases) {
        uint8_t out[4];
        // Writer direction: the destination runs downwards.
        scramble_rolling(out + 3, src, 0x10, c.step, 4, -1);
        for (int j = 0; j < 4; j++) EXPECT_EQ(out[3 - j], c.keys[j]) << int(c.step) << " " << j;
    }
}

class StoreWriterTest : public DataStoreTest {
protected:
    const img::Bytes prefix = img::make_prefix(13, 4242);

    // A file with users from the builder, loaded into ds.
    std::vector<SlotDesc> load_users(int n, const img::Bytes& tail = {}) {
        std::vector<SlotDesc> slots;
        std::vector<img::Image> images;
        for (int i = 0; i < n; i++) {
            slots.push_back(sample_user("user" + std::to_string(i), i));
            images.push_back(img::build_slot(slots.back(), img::file_key_of(prefix)));
        }
        EXPECT_EQ(load(img::data_file(img::build_header(sample_settings(), prefix), images, tail)),
                  kLoadOk);
        return slots;
    }
    void expect_reload(const std::vector<SlotDesc>& want) {
        ASSERT_EQ(load_data_file(ds), kLoadOk);
        auto got = users();
        ASSERT_EQ(got.size(), want.size());
        for (size_t i = 0; i < got.size(); i++) {
            EXPECT_EQ(got[i]->position, static_cast<int>(i));
            EXPECT_EQ(record_diff(*got[i], want[i]), "") << "user " << i;
        }
    }
    std::string slot_diff(const img::Bytes& file, int position, const SlotDesc& d) {
        size_t off = 800 + 4000 * static_cast<size_t>(position);
        if (file.size() < off + 4000) return "file too short";
        return meaningful_diff(file.data() + off, img::build_slot(d, ds.key.file_key));
    }
    std::vector<std::string> adr_files() {
        std::vector<std::string> out;
        for (auto& e : std::filesystem::recursive_directory_iterator(home))
            if (e.path().extension() == ".adr") out.push_back(e.path().filename());
        return out;
    }
};

TEST_F(StoreWriterTest, HeaderMatchesIndependentImage) {
    for (int n = 8; n <= 15; n++) {
        for (bool zero_xor : {false, true}) {
            SCOPED_TRACE("N=" + std::to_string(n) + (zero_xor ? " zero xor" : ""));
            img::Bytes p = img::make_prefix(n, 500 + n, zero_xor);
            img::HeaderDesc desc = sample_settings();
            desc.options[img::fixed_rows] = 30;
            desc.options[img::fixed_columns] = 200;
            desc.options[img::fixed_uploads] = 10;
            desc.smtp_server = std::string(79, 's');
            desc.log_size_kb = -1;
            BasicSettings s = settings_of(desc, ds.user_folder);
            DataFileKey key = key_from(p);
            uint8_t out[kHeaderSize];
            ASSERT_EQ(encode_header(s, key, out), 1);
            EXPECT_EQ(meaningful_diff(out, img::build_header(desc, p)), "");

            BasicSettings back;
            set_default_settings(back, "elsewhere");
            DataFileKey key_back{};
            EXPECT_EQ(decode_header(out, back, key_back, "elsewhere", nullptr), 151);
            EXPECT_EQ(settings_diff(back, s), "");
            EXPECT_EQ(key_back.file_key, zero_xor ? 0x78 : key.file_key);
        }
    }
}

TEST_F(StoreWriterTest, SlotMatchesIndependentImage) {
    std::vector<SlotDesc> cases;
    for (int v = 0; v < 5; v++) cases.push_back(sample_user("person" + std::to_string(v), v));
    SlotDesc steps = sample_user("\xb1"
                                 "1",
                                 1); // id bytes XOR to 0x80
    steps.set[1].id = "";            // empty id: step 0x78
    steps.set[1].password = "secret of an empty id";
    steps.set[2].id = "\xb1"
                      "1";
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

TEST_F(StoreWriterTest, SetKeyStepRules) {
    const uint8_t k = 0x21;
    UserRecord r;
    strcpy(r.set[0].id, "\xb1"
                        "1");
    strcpy(r.set[0].password, "ab");
    strcpy(r.set[1].password, "ab"); // set 2 has an empty id
    uint8_t slot[kSlotSize];
    ASSERT_EQ(encode_user_slot(r, k, ds.user_folder.c_str(), slot), kSlotOk);
    EXPECT_EQ(slot[3999], 2);
    EXPECT_EQ(slot[3998], 0xb1 ^ k);
    EXPECT_EQ(slot[3996], 2);
    EXPECT_EQ(slot[3995], 'a' ^ k);
    EXPECT_EQ(slot[3994], 'b' ^ ((k + 0x55) & 0xFF));
    // Set 1 takes 23 bytes from 3999 down; set 2 starts at 3976.
    EXPECT_EQ(slot[3976], 0);
    EXPECT_EQ(slot[3975], 2);
    EXPECT_EQ(slot[3974], 'a' ^ k);
    EXPECT_EQ(slot[3973], 'b' ^ ((k + 0x78) & 0xFF));
}

TEST_F(StoreWriterTest, SaveSettingsKeepsEverythingFrom800On) {
    std::vector<SlotDesc> slots = load_users(3, img::Bytes(123, 0xEE));
    const img::Bytes before = get_file(ds.data_path);

    img::HeaderDesc desc = sample_settings();
    desc.http_port = 443;
    desc.options[img::fixed_rows] = 30;
    desc.options[img::fixed_columns] = 200;
    desc.options[img::fixed_uploads] = 10;
    desc.admin_password = std::string(39, 'P');
    desc.fixed_quotation = "1234567";
    desc.background_image = std::string(100, 'b');
    desc.log_folder = std::string(200, 'f');
    ds.settings = settings_of(desc, ds.user_folder);
    ASSERT_EQ(save_basic_settings(ds), 1);

    const img::Bytes after = get_file(ds.data_path);
    ASSERT_EQ(after.size(), before.size());
    EXPECT_TRUE(std::equal(before.begin() + 800, before.end(), after.begin() + 800));
    EXPECT_TRUE(std::equal(before.begin(), before.begin() + prefix.size(), after.begin()));
    EXPECT_EQ(meaningful_diff(after.data(), img::build_header(desc, prefix)), "");
    expect_reload(slots);
    EXPECT_EQ(settings_diff(ds.settings, settings_of(desc, ds.user_folder)), "");
    EXPECT_TRUE(messages.empty());
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

TEST_F(StoreWriterTest, WriteUserSlotTouchesOnlyItsSlot) {
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
}

TEST_F(StoreWriterTest, WriteUserSlotAppendsANewUser) {
    std::vector<SlotDesc> slots = load_users(2);
    slots.push_back(sample_user("newcomer", 7));
    UserRecord* r = record_of(slots.back()).release();
    append_user(ds.users, r);
    renumber_users(ds.users);
    ASSERT_EQ(write_user_slot(ds, *r), 1);
    EXPECT_EQ(get_file(ds.data_path).size(), 800u + 3 * 4000);
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
    std::vector<img::Image> images;
    for (const SlotDesc& d : slots) images.push_back(img::build_slot(d, img::file_key_of(prefix)));
    const img::Bytes original =
        img::data_file(img::build_header(sample_settings(), prefix), images);
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
    EXPECT_FALSE(exists(adr_path("user1")));
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
    EXPECT_TRUE(adr_files().empty());
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

TEST_F(StoreWriterTest, FailedWritesLeaveTheOldFile) {
    std::vector<SlotDesc> slots = load_users(3);
    const img::Bytes before = get_file(ds.data_path);
    // As root a read-only folder does not stop a write; a directory where
    // the temporary file must go does.
    std::filesystem::create_directory(ds.data_path + ".new");

    ds.settings.http_port = 81;
    EXPECT_EQ(save_basic_settings(ds), -1);
    UserRecord* r = find_user(ds.users, "user1");
    strcpy(r->set[0].name, "changed");
    EXPECT_EQ(write_user_slot(ds, *r), -1);
    ASSERT_EQ(remove_user(ds.users, "user0"), 1);
    EXPECT_EQ(rewrite_data_file(ds), -1);
    EXPECT_EQ(messages.size(), 3u);
    EXPECT_EQ(get_file(ds.data_path), before);

    std::filesystem::remove(ds.data_path + ".new");
    expect_reload(slots);
}

TEST_F(StoreWriterTest, FailedWriteKeepsTheOverflowBook) {
    std::vector<SlotDesc> slots = load_users(2);
    UserRecord* r = find_user(ds.users, "user0");
    r->address_book = book_of_length(3000);
    ASSERT_EQ(write_user_slot(ds, *r), 1);
    slots[0].book = Book::overflow;
    slots[0].book_text = r->address_book;

    // The shorter book would go into the slot, but the slot cannot be written:
    // the file on disk still points at the overflow file, which must survive.
    std::filesystem::create_directory(ds.data_path + ".new");
    r->address_book = book_of_length(100);
    EXPECT_EQ(write_user_slot(ds, *r), -1);
    std::filesystem::remove(ds.data_path + ".new");
    expect_reload(slots);
}

} // namespace
