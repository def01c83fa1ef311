// A second, deliberately separate writer of data-file images for the tests.
// It shares no code with src/store: the images it builds are what the store's
// reader must accept, and the bytes it marks as meaningful are what the store's
// writer must reproduce. It never checks lengths, so over-long strings are the
// way to build corrupt items.
#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace store_image {

using Bytes = std::vector<uint8_t>;

constexpr int kHeaderBytes = 800;
constexpr int kSlotBytes = 4000;

// The header's eighteen option bytes, by the positions the tests single out.
constexpr int kOptionCount = 18;
enum Option : int { language_policy = 9, fixed_rows = 12, fixed_columns, fixed_uploads };

struct Image {
    Bytes bytes;
    // 1 where the byte carries a value, 0 for random filler and reserved bytes
    // whose content is not defined.
    Bytes meaningful;
    // Lowest position an item wanted to write; below 0 means the items did not
    // fit and were cut off at the buffer's start.
    int lowest = 0;
};

// XOR of the prefix, 0x78 when that is 0.
uint8_t file_key_of(const Bytes& prefix);

// n bytes from seed; with zero_xor the last byte makes the XOR of all 0.
Bytes make_prefix(int n, uint32_t seed, bool zero_xor = false);

struct HeaderDesc {
    int http_port = 80;
    uint8_t browser_registration = 1;
    uint8_t browser_auth = 0;
    uint8_t multiple_addresses = 0;
    uint8_t per_user_servers = 0;
    std::array<uint8_t, kOptionCount> options{0, 0, 1, 1,  0,  0, 0, 0, 0,
                                              1, 0, 0, 10, 80, 1, 0, 0, 0};
    std::string smtp_server;
    int smtp_port = 25;
    std::string pop3_server;
    int pop3_port = 110;
    int version = 151; // 112, 116, 135, 142 and 150 omit the later items
    std::string top_page = "index.html";
    std::string admin_password;
    std::array<uint32_t, 30> colours{0x0000FF, 0x400080, 0x000000, 0xFFFFFF};
    std::string background_image;
    std::string fixed_quotation;
    int log_size_kb = 128;
    std::string log_folder;
    // Corruption knobs.
    uint8_t marker = 'V';
    uint16_t format_word = 0;
    uint32_t filler_seed = 1;
    // A constant for every byte no item takes, or -1 for random bytes. Lets a
    // test make a reader that takes filler for items see telling values.
    int filler = -1;
};

Image build_header(const HeaderDesc& d, const Bytes& prefix);

struct SetDesc {
    std::string id;
    std::string password;
    std::string name;
    std::string mail_address;
    std::string smtp_name;
    int smtp_port = 0;
    std::string pop3_name;
    int pop3_port = 0;
    std::string signature;
    std::string quotation;
    std::string reserved_a;
    std::string reserved_b;
    int apop_flag = 0;
    int mail_security = 0;
    int smtp_auth = 0;
};

enum class Book { none, inline_text, overflow };

struct SlotDesc {
    SetDesc set[3];
    std::array<uint8_t, 30> options{0, 10, 80, 1, 0, 0, 0, 1, 0, 0, 0, 1};
    // Belongs to set 0. For overflow only the marker is written; the text is
    // what the test puts into the overflow file.
    Book book = Book::none;
    std::string book_text;
    uint32_t filler_seed = 2;
};

Image build_slot(const SlotDesc& d, uint8_t file_key);

// Header, slots and any trailing bytes, in file order.
Bytes data_file(const Image& header, const std::vector<Image>& slots, const Bytes& tail = {});

} // namespace store_image
