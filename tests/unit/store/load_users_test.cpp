// Reading user slots from images the store did not write.
#include "store/store_fixture.h"
#include "store/user_slot.h"

namespace {

using namespace store_test;
namespace img = store_image;

using img::Book;
using img::SlotDesc;

class StoreLoadUsersTest : public DataStoreTest {
protected:
    const img::Bytes prefix = img::make_prefix(12, 99);
    const uint8_t key = img::file_key_of(prefix);
};

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
        ASSERT_EQ(load(file_of(slots, prefix)), kLoadOk);
        if (!c.book_survives) slots[1].book = Book::none;
        expect_users(slots);
        EXPECT_TRUE(messages.empty());
    }
}

TEST_F(StoreLoadUsersTest, CorruptSlotsAreDroppedAndReported) {
    // bob sits between two intact users; the message names him by id when
    // his ids are readable, else by his number among the slots.
    auto expect_dropped = [&](const SlotDesc& bob, const std::string& who) {
        messages.clear();
        std::vector<SlotDesc> slots = {sample_user("alice", 1), bob, sample_user("carol", 3)};
        ASSERT_EQ(load(file_of(slots, prefix)), kLoadOk);
        expect_users({slots[0], slots[2]});
        EXPECT_EQ(messages,
                  std::vector<std::string>{who + "のデータが壊れています。\n削除します。"});
        EXPECT_FALSE(ds.slots_in_sync);
    };
    using S = img::SetDesc;
    struct Case {
        int set;
        std::string S::*field;
        size_t length; // one past the longest the field holds
    } cases[] = {
        {0, &S::id, 40},        {2, &S::id, 41},           {0, &S::password, 40},
        {1, &S::name, 40},      {0, &S::mail_address, 80}, {2, &S::smtp_name, 80},
        {0, &S::pop3_name, 80}, {0, &S::signature, 500},   {1, &S::quotation, 8},
        {0, &S::reserved_b, 8},
    };
    for (size_t i = 0; i < std::size(cases); i++) {
        SCOPED_TRACE("case " + std::to_string(i));
        SlotDesc bob = sample_user("bob", 2);
        bob.set[cases[i].set].*cases[i].field = std::string(cases[i].length, 'x');
        expect_dropped(bob, cases[i].field == &S::id ? "2 番目のユーザー" : "ユーザー bob ");
    }
    SlotDesc bob = sample_user("bob", 2);
    bob.book = Book::inline_text;
    bob.book_text = std::string(3990, 'b'); // runs past the slot's start
    expect_dropped(bob, "ユーザー bob ");
    bob = sample_user("bob", 2);
    bob.set[0].id = "\x8e\x52\x93\x63";
    bob.set[0].password = std::string(45, 'p');
    expect_dropped(bob, "ユーザー 山田 ");
}

TEST_F(StoreLoadUsersTest, NumberedMessageCountsUsersLoadedSoFar) {
    std::vector<SlotDesc> slots = {sample_user("a", 0), sample_user("b", 1), sample_user("c", 2),
                                   sample_user("d", 3)};
    slots[0].set[0].id = std::string(40, 'x');
    slots[2].set[0].id = std::string(50, 'y');
    ASSERT_EQ(load(file_of(slots, prefix)), kLoadOk);
    expect_users({slots[1], slots[3]});
    const std::string tail = " 番目のユーザーのデータが壊れています。\n削除します。";
    EXPECT_EQ(messages, (std::vector<std::string>{"1" + tail, "2" + tail}));
}

TEST_F(StoreLoadUsersTest, UploadNumberZeroReadsAsOne) {
    SlotDesc d = sample_user("zero", 2);
    d.options[upload_no] = 0;
    ASSERT_EQ(load(file_of({d}, prefix)), kLoadOk);
    d.options[upload_no] = 1;
    expect_users({d});
}

TEST_F(StoreLoadUsersTest, TextInSettings1ReservedStringIsDroppedSoTheSlotWritesBack) {
    // With no book, Settings 1's book item is one 0 byte and the byte below
    // it, the length of reserved string A, must be 0 as well. A slot whose
    // overflow file is gone leaves no book; text kept in reserved A would
    // then be written where the reader takes it for an inline book.
    for (Book book : {Book::overflow, Book::inline_text}) {
        SCOPED_TRACE(book == Book::overflow ? "missing overflow file" : "inline book");
        SlotDesc d = sample_user("reserved", 1);
        d.book = book;
        d.book_text = book_of_length(40);
        d.set[0].reserved_a = "abcdefg";
        d.set[1].reserved_a = "kept";
        std::remove(adr_path("reserved").c_str());
        ASSERT_EQ(load(file_of({d}, prefix)), kLoadOk);
        d.set[0].reserved_a.clear();
        if (book == Book::overflow) d.book = Book::none;
        expect_users({d});

        ASSERT_EQ(users().size(), 1u);
        UserRecord& loaded = *users()[0];
        loaded.address_book.clear();
        uint8_t slot[kSlotSize];
        ASSERT_EQ(encode_user_slot(loaded, key, ds.user_folder.c_str(), slot), kSlotOk);
        UserRecord back;
        ASSERT_EQ(decode_user_slot(slot, key, ds.user_folder.c_str(), back), kSlotOk);
        d.book = Book::none;
        EXPECT_EQ(record_diff(back, d), "");
    }
}

TEST_F(StoreLoadUsersTest, OverflowMarkerNeedsItsZeroByte) {
    // A one-character book looks like the overflow marker except for its
    // character byte; only a 0 there means the file.
    ASSERT_NE(key, 'x');
    SlotDesc d = sample_user("one.char", 0);
    d.book = Book::inline_text;
    d.book_text = "x";
    put_file(adr_path("one.char"), {'a', 'd', 'r'});
    ASSERT_EQ(load(file_of({d}, prefix)), kLoadOk);
    expect_users({d});
}

} // namespace
