// Damaged files must never crash the loader (the suite runs under
// AddressSanitizer in CI) and must never cost a user whose slot is intact.
#include "store/store_fixture.h"
#include <random>

namespace {

using namespace store_test;

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
