// Reading user slots from images the store did not write.
#include "store/store_fixture.h"
#include <functional>

namespace {

using namespace store_test;
namespace img = store_image;

using img::Book;
using img::SlotDesc;

class StoreLoadUsersTest : public DataStoreTest {
protected:
    const img::Bytes prefix = img::make_prefix(12, 99);
    const uint8_t key = img::file_key_of(prefix);

    img::Bytes file_of(const std::vector<SlotDesc>& slots, const img::Bytes& tail = {}) {
        std::vector<img::Image> images;
        for (const SlotDesc& s : slots) images.push_back(img::build_slot(s, key));
        return img::data_file(img::build_header(sample_settings(), prefix), images, tail);
    }
    void expect_users(const std::vector<SlotDesc>& want) {
        auto got = users();
        ASSERT_EQ(got.size(), want.size());
        for (size_t i = 0; i < got.size(); i++) {
            EXPECT_EQ(got[i]->position, static_cast<int>(i));
            EXPECT_EQ(record_diff(*got[i], want[i]), "") << "user " << i;
        }
    }
};

std::string book_of_length(size_t n) {
    // Entries of the address-list form, Shift_JIS names included, cut to n.
    std::string entry = "\x8e\x52\x93\x63 <yamada@example.jp>,Bob Smith <bob@example.com>,";
    std::string out;
    while (out.size() < n) out += entry;
    out.resize(n);
    return out;
}

TEST_F(StoreLoadUsersTest, UsersWithEveryKindOfBook) {
    struct Case {
        const char* name;
        Book book;
        size_t length;
        bool adr_file;
        bool book_survives;
    } cases[] = {
        {"no book", Book::none, 0, false, false},
        {"short inline", Book::inline_text, 57, false, true},
        {"256 characters", Book::inline_text, 256, false, true},
        {"512 characters", Book::inline_text, 512, false, true},
        {"2000 characters", Book::inline_text, 2000, false, true},
        {"overflow file", Book::overflow, 3000, true, true},
        {"overflow file of 2001", Book::overflow, 2001, true, true},
        {"overflow file missing", Book::overflow, 3000, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        messages.clear();
        std::vector<SlotDesc> slots = {sample_user("u.first", 4), sample_user("u.book", 1),
                                       sample_user("u.last", 2)};
        slots[1].book = c.book;
        slots[1].book_text = book_of_length(c.length);
        std::remove(adr_path("u.book").c_str());
        if (c.adr_file) {
            const std::string& t = slots[1].book_text;
            put_file(adr_path("u.book"), img::Bytes(t.begin(), t.end()));
        }
        ASSERT_EQ(load(file_of(slots)), kLoadOk);
        if (!c.book_survives) slots[1].book = Book::none;
        expect_users(slots);
        EXPECT_TRUE(messages.empty());
    }
}

TEST_F(StoreLoadUsersTest, CorruptSlotsAreDroppedAndReported) {
    const std::string numbered = " 番目のユーザーのデータが壊れています。\n削除します。";
    struct Case {
        const char* name;
        std::function<void(SlotDesc&)> damage;
        std::string message; // for the second of three slots
    } cases[] = {
        {"id of 40", [](SlotDesc& d) { d.set[0].id = std::string(40, 'i'); }, "2" + numbered},
        {"id of set 3", [](SlotDesc& d) { d.set[2].id = std::string(41, 'i'); }, "2" + numbered},
        {"password of 40", [](SlotDesc& d) { d.set[0].password = std::string(40, 'p'); },
         "ユーザー bob のデータが壊れています。\n削除します。"},
        {"name of set 2", [](SlotDesc& d) { d.set[1].name = std::string(40, 'n'); },
         "ユーザー bob のデータが壊れています。\n削除します。"},
        {"mail address of 80", [](SlotDesc& d) { d.set[0].mail_address = std::string(80, 'm'); },
         "ユーザー bob のデータが壊れています。\n削除します。"},
        {"smtp name of 80", [](SlotDesc& d) { d.set[2].smtp_name = std::string(80, 's'); },
         "ユーザー bob のデータが壊れています。\n削除します。"},
        {"pop3 name of 80", [](SlotDesc& d) { d.set[0].pop3_name = std::string(80, 'p'); },
         "ユーザー bob のデータが壊れています。\n削除します。"},
        {"signature of 500", [](SlotDesc& d) { d.set[0].signature = std::string(500, 'g'); },
         "ユーザー bob のデータが壊れています。\n削除します。"},
        {"quotation of 8", [](SlotDesc& d) { d.set[1].quotation = std::string(8, '>'); },
         "ユーザー bob のデータが壊れています。\n削除します。"},
        {"reserved string B of 8", [](SlotDesc& d) { d.set[0].reserved_b = std::string(8, 'r'); },
         "ユーザー bob のデータが壊れています。\n削除します。"},
        {"book past the slot start",
         [](SlotDesc& d) {
             d.book = Book::inline_text;
             d.book_text = std::string(3990, 'b');
         },
         "ユーザー bob のデータが壊れています。\n削除します。"},
        {"Shift_JIS id in the message",
         [](SlotDesc& d) {
             d.set[0].id = "\x8e\x52\x93\x63";
             d.set[0].password = std::string(45, 'p');
         },
         "ユーザー 山田 のデータが壊れています。\n削除します。"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        messages.clear();
        std::vector<SlotDesc> slots = {sample_user("alice", 1), sample_user("bob", 2),
                                       sample_user("carol", 3)};
        c.damage(slots[1]);
        ASSERT_EQ(load(file_of(slots)), kLoadOk);
        expect_users({slots[0], slots[2]});
        EXPECT_EQ(messages, std::vector<std::string>{c.message});
        EXPECT_FALSE(ds.slots_in_sync);
    }
}

TEST_F(StoreLoadUsersTest, NumberedMessageCountsUsersLoadedSoFar) {
    std::vector<SlotDesc> slots = {sample_user("a", 0), sample_user("b", 1), sample_user("c", 2),
                                   sample_user("d", 3)};
    slots[0].set[0].id = std::string(40, 'x');
    slots[2].set[0].id = std::string(50, 'y');
    ASSERT_EQ(load(file_of(slots)), kLoadOk);
    expect_users({slots[1], slots[3]});
    const std::string tail = " 番目のユーザーのデータが壊れています。\n削除します。";
    EXPECT_EQ(messages, (std::vector<std::string>{"1" + tail, "2" + tail}));
}

TEST_F(StoreLoadUsersTest, TrailingPartialSlotIsIgnored) {
    std::vector<SlotDesc> slots = {sample_user("one", 0), sample_user("two", 1)};
    for (size_t tail : {1u, 2000u, 3999u}) {
        SCOPED_TRACE(tail);
        ASSERT_EQ(load(file_of(slots, img::Bytes(tail, 0x5A))), kLoadOk);
        expect_users(slots);
        EXPECT_TRUE(messages.empty());
        EXPECT_TRUE(ds.slots_in_sync);
    }
}

TEST_F(StoreLoadUsersTest, UploadNumberZeroReadsAsOne) {
    SlotDesc d = sample_user("zero", 2);
    d.options[upload_no] = 0;
    ASSERT_EQ(load(file_of({d})), kLoadOk);
    d.options[upload_no] = 1;
    expect_users({d});
}

TEST_F(StoreLoadUsersTest, OverflowMarkerNeedsItsZeroByte) {
    // A one-character book looks like the overflow marker except for its
    // character byte; only a 0 there means the file.
    ASSERT_NE(key, 'x');
    SlotDesc d = sample_user("one.char", 0);
    d.book = Book::inline_text;
    d.book_text = "x";
    put_file(adr_path("one.char"), {'a', 'd', 'r'});
    ASSERT_EQ(load(file_of({d})), kLoadOk);
    expect_users({d});
}

} // namespace
