// Reading user slots from images the store did not write: foreign_slots.ref
// is a header followed by the slots slot_loads.cases lists, in its order.
#include "mail/mail_golden.h"
#include "server/server_cases.h"
#include "store/store_fixture.h"
#include "store/user_slot.h"
#include <array>
#include <filesystem>
#include <random>
#include <sstream>

namespace {

using namespace store_test;

// The slots of foreign_slots.ref that slot_loads.cases describes.
enum Slot : int { reserved_overflow = 26, reserved_inline = 27 };

class StoreLoadUsersTest : public DataStoreTest {
protected:
    const std::string images = image("foreign_slots.ref");
    const uint8_t key = key_of(images).file_key;

    std::string slots_file(const std::vector<int>& slots) {
        std::string file = images.substr(0, kHeaderSize);
        for (int s : slots) file += images.substr(kHeaderSize + size_t{kSlotSize} * s, kSlotSize);
        return file;
    }
};

// "#N" stands for N bytes of the tests' book text.
std::string book_value(const std::string& v) {
    return v.starts_with("#") ? book_of_length(std::stoul(v.substr(1))) : v;
}

TEST_F(StoreLoadUsersTest, SlotsLoadAsTheCasesSay) {
    ASSERT_NE(key, 'x'); // one.char's book would read as the overflow marker
    for (const auto& c : SERVER_CASES("slot_loads.cases")) {
        SCOPED_TRACE(c.at(0));
        messages.clear();
        for (const auto& e : std::filesystem::directory_iterator(ds.user_folder))
            std::filesystem::remove(e.path());
        if (const size_t eq = c.at(2).find('='); eq != std::string::npos)
            WriteFile(adr_path(c.at(2).substr(0, eq)), book_value(c.at(2).substr(eq + 1)));
        std::vector<int> slots;
        for (const std::string& s : mail_golden::Split(c.at(1), ' ')) slots.push_back(std::stoi(s));
        ASSERT_EQ(load(slots_file(slots)), kLoadOk);
        Users want;
        for (const std::string& u : mail_golden::Split(c.at(3), ' ')) {
            const std::vector<std::string> parts = mail_golden::Split(u, '/');
            want.push_back(sample_user(parts.at(0), std::stoi(parts.at(1))));
            for (size_t i = 2; i < parts.size(); i++) {
                if (parts[i].starts_with("book="))
                    want.back()->address_book = book_value(parts[i].substr(5));
                else
                    set_fields(*want.back(), parts[i]);
            }
        }
        expect_users(want);
        EXPECT_EQ(messages, mail_golden::Split(c.at(4), '|'));
        if (c.at(5) != "-") {
            EXPECT_EQ(ds.slots_in_sync, c.at(5) == "1");
        }
    }
}

TEST_F(StoreLoadUsersTest, TextInSettings1ReservedStringIsDroppedSoTheSlotWritesBack) {
    // With no book, Settings 1's book item is one 0 byte and the byte below
    // it, the length of reserved string A, must be 0 as well. A slot whose
    // overflow file is gone leaves no book; text kept in reserved A would
    // then be written where the reader takes it for an inline book.
    for (int slot : {reserved_overflow, reserved_inline}) {
        SCOPED_TRACE(slot == reserved_overflow ? "missing overflow file" : "inline book");
        std::remove(adr_path("reserved").c_str());
        ASSERT_EQ(load(slots_file({slot})), kLoadOk);
        Users want;
        want.push_back(sample_user("reserved", 1));
        strcpy(want[0]->set[1].reserved_a, "kept");
        if (slot == reserved_inline) want[0]->address_book = book_of_length(40);
        expect_users(want);

        ASSERT_EQ(users().size(), 1u);
        UserRecord& loaded = *users()[0];
        loaded.address_book.clear();
        uint8_t bytes[kSlotSize];
        ASSERT_EQ(encode_user_slot(loaded, key, ds.user_folder.c_str(), bytes), kSlotOk);
        UserRecord back;
        ASSERT_EQ(decode_user_slot(bytes, key, ds.user_folder.c_str(), back), kSlotOk);
        want[0]->address_book.clear();
        EXPECT_EQ(dump_diff(back, *want[0]), "");
    }
}

TEST_F(StoreLoadUsersTest, FirstWriteAfterADroppedSlotRewritesTheFile) {
    // alice, bob with a password one too long, carol.
    const std::string original = slots_file({7, 11, 8});
    ASSERT_EQ(load(original), kLoadOk);
    Users slots;
    slots.push_back(sample_user("alice", 1));
    slots.push_back(sample_user("carol", 3));

    // Carol now sits at position 1, where bob's damaged slot still is: a
    // plain slot write would leave her old slot behind as a second carol.
    UserRecord* carol = find_user(ds.users, "carol");
    ASSERT_EQ(carol->position, 1);
    strcpy(carol->set[0].name, "Carol");
    strcpy(slots[1]->set[0].name, "Carol");
    ASSERT_EQ(write_user_slot(ds, *carol), 1);
    EXPECT_EQ(golden::read(ds.data_path).size(), 800u + 2 * 4000);
    EXPECT_EQ(golden::read(ds.data_path + ".damaged"), original);
    messages.clear();
    expect_reload(slots);
    EXPECT_TRUE(messages.empty());
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
        std::istringstream got(dump(ds.settings)), base(dump(sample_settings(ds.user_folder)));
        std::vector<std::string> lines;
        for (std::string g, b; std::getline(got, g);) {
            if (std::getline(base, b) && g == b) continue;
            if (size_t at = g.find(ds.user_folder); at != std::string::npos)
                g.replace(at, ds.user_folder.size(), "<user>");
            lines.push_back(g);
        }
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
    for (const auto& c : SERVER_CASES("option_bytes.ref")) {
        const int option = std::stoi(c.at(0)), stored = std::stoi(c.at(1), nullptr, 0);
        SCOPED_TRACE("option " + std::to_string(option) + " = " + std::to_string(stored));
        std::string patched = header;
        patched[first_option - option] = static_cast<char>(stored);
        load_header(patched);
        BasicSettings s = sample_settings(ds.user_folder);
        s.*kOptionWords[option] = std::stoi(c.at(2), nullptr, 0);
        EXPECT_EQ(dump_diff(ds.settings, s), "");
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

// Damaged files must never crash the loader (the suite runs under
// AddressSanitizer in CI) and must never cost a user whose slot is intact.
class StoreRobustnessTest : public DataStoreTest {
protected:
    // Four users, the second with a book of 1000 bytes in its slot, the
    // fourth with one of 2400 in its overflow file.
    const std::string file = image("robust.ref");
    const size_t prefix_length = key_of(file).length;
    Users slots;

    void SetUp() override {
        DataStoreTest::SetUp();
        for (int i = 0; i < 4; i++) {
            slots.push_back(sample_user("robust" + std::to_string(i), i));
            if (i % 2) slots.back()->address_book = std::string(300 + 700 * i, 'a' + i);
        }
        WriteFile(adr_path("robust3"), slots[3]->address_book);
    }

    // Every slot in `intact` must be among the loaded users, in file order.
    void expect_intact_users_kept(const std::vector<int>& intact) {
        auto got = users();
        for (size_t i = 0; i < got.size(); i++) ASSERT_EQ(got[i]->position, static_cast<int>(i));
        size_t next = 0;
        for (int k : intact) {
            while (next < got.size() && dump_diff(*got[next], *slots[k]) != "") next++;
            ASSERT_LT(next, got.size()) << "intact user " << k << " lost";
            next++;
        }
    }
};

TEST_F(StoreRobustnessTest, TruncatedAtEveryLength) {
    const BasicSettings want = sample_settings(ds.user_folder);
    for (size_t len = 0; len <= file.size(); len++) {
        SCOPED_TRACE(len);
        messages.clear();
        int result = load(file.substr(0, len));
        if (len < 800) {
            ASSERT_EQ(result, kLoadFailed);
            ASSERT_EQ(count_users(ds.users), 0);
            ASSERT_EQ(messages.size(), 1u);
            continue;
        }
        // A trailing part of a slot is no damage.
        ASSERT_EQ(result, kLoadOk);
        ASSERT_TRUE(messages.empty());
        ASSERT_TRUE(ds.slots_in_sync);
        size_t whole = (len - 800) / 4000;
        ASSERT_EQ(count_users(ds.users), static_cast<int>(whole));
        std::vector<int> intact;
        for (size_t k = 0; k < whole; k++) intact.push_back(static_cast<int>(k));
        expect_intact_users_kept(intact);
        ASSERT_EQ(dump_diff(ds.settings, want), "");
    }
}

TEST_F(StoreRobustnessTest, RandomByteFlips) {
    std::mt19937 gen(20240611);
    const size_t n = prefix_length;
    for (int iteration = 0; iteration < 3000; iteration++) {
        std::string damaged = file;
        std::vector<bool> slot_hit(slots.size(), false);
        bool key_hit = false;
        int flips = 1 + static_cast<int>(gen() % 3);
        for (int f = 0; f < flips; f++) {
            // Half of the flips land where a slot keeps its items, which is
            // where the reader makes its decisions.
            size_t pos = gen() % 2 ? gen() % damaged.size()
                                   : 800 + 4000 * (gen() % slots.size()) + 3700 + gen() % 300;
            damaged[pos] = static_cast<char>(damaged[pos] ^ (1 + gen() % 255));
            if (pos < n || pos == 794) key_hit = true;
            if (pos >= 800) slot_hit[(pos - 800) / 4000] = true;
        }
        SCOPED_TRACE("iteration " + std::to_string(iteration));
        ASSERT_EQ(load(damaged), kLoadOk);
        if (key_hit) continue;
        std::vector<int> intact;
        for (size_t k = 0; k < slots.size(); k++)
            if (!slot_hit[k]) intact.push_back(static_cast<int>(k));
        expect_intact_users_kept(intact);
        if (HasFatalFailure()) return;
    }
}

} // namespace
