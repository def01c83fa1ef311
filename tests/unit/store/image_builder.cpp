#include "store/image_builder.h"
#include <random>

namespace store_image {
namespace {

// Lays items from a start position towards lower positions. Bytes that fall
// outside the buffer are dropped, so an over-long item cannot hurt the test.
class Downward {
public:
    Downward(Image& img, int start, uint8_t key) : img_(img), q_(start), key_(key) {}

    int position() const { return q_; }

    void byte(int v, bool meaningful = true) {
        if (q_ >= 0 && q_ < static_cast<int>(img_.bytes.size())) {
            img_.bytes[q_] = static_cast<uint8_t>(v);
            img_.meaningful[q_] = meaningful ? 1 : 0;
        }
        q_--;
        img_.lowest = q_ + 1;
    }
    void skip(int n) {
        q_ -= n;
        img_.lowest = q_ + 1;
    }
    void word16(int v) {
        byte(v & 0xFF);
        byte((v >> 8) & 0xFF);
    }
    // Length byte, then the characters downwards, each XORed with the key.
    void fixed_string(const std::string& s) {
        byte(static_cast<int>(s.size() & 0xFF));
        for (unsigned char ch : s) byte(ch ^ key_);
    }
    void block(const Bytes& v, bool meaningful = true) {
        for (uint8_t b : v) byte(b ^ key_, meaningful);
    }
    // The key starts at the file key and moves on by the step after each
    // character; a step of 0x80 moves it by 0x55 instead.
    void rolling(const std::string& s, uint8_t step, bool two_length_bytes, bool length = true) {
        if (length) {
            byte(static_cast<int>(s.size() & 0xFF));
            if (two_length_bytes) byte(static_cast<int>((s.size() >> 8) & 0xFF));
        }
        uint8_t advance = step == 0x80 ? 0x55 : step;
        uint8_t k = key_;
        for (unsigned char ch : s) {
            byte(ch ^ k);
            k = static_cast<uint8_t>(k + advance);
        }
    }

private:
    Image& img_;
    int q_;
    uint8_t key_;
};

Image random_image(int size, uint32_t seed) {
    Image img;
    std::mt19937 gen(seed);
    img.bytes.resize(size);
    for (auto& b : img.bytes) b = static_cast<uint8_t>(gen());
    img.meaningful.assign(size, 0);
    return img;
}

Bytes little_endian(uint32_t v, int n) {
    Bytes out;
    for (int i = 0; i < n; i++) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
    return out;
}

// The file key comes from the prefix and a set's step from its id, alike.
uint8_t xor_or_78(const auto& bytes) {
    uint8_t x = 0;
    for (unsigned char b : bytes) x ^= b;
    return x ? x : 0x78;
}

} // namespace

uint8_t file_key_of(const Bytes& prefix) {
    return xor_or_78(prefix);
}

Bytes make_prefix(int n, uint32_t seed, bool zero_xor) {
    std::mt19937 gen(seed);
    Bytes p(n);
    for (auto& b : p) b = static_cast<uint8_t>(gen());
    uint8_t x = 0;
    for (int i = 0; i < n - 1; i++) x ^= p[i];
    if (zero_xor)
        p[n - 1] = x;
    else if ((x ^ p[n - 1]) == 0)
        p[n - 1] ^= 1;
    return p;
}

Image build_header(const HeaderDesc& d, const Bytes& prefix) {
    const int n = static_cast<int>(prefix.size());
    Image img = random_image(kHeaderBytes, d.filler_seed);
    if (d.filler >= 0) img.bytes.assign(kHeaderBytes, static_cast<uint8_t>(d.filler));
    for (int i = 0; i < n; i++) {
        img.bytes[i] = prefix[i];
        img.meaningful[i] = 1;
    }
    img.bytes[794] = static_cast<uint8_t>(n);
    img.meaningful[794] = 1;

    Downward w(img, 799 - n, file_key_of(prefix));
    w.word16(d.http_port);
    w.byte(d.browser_registration);
    w.byte(d.browser_auth);
    w.byte(d.multiple_addresses);
    w.byte(d.per_user_servers);
    for (uint8_t o : d.options) w.byte(o);
    w.byte(0x80 | img.bytes[w.position()], false);
    w.byte(0x80 | img.bytes[w.position()], false);
    w.fixed_string(d.smtp_server);
    w.word16(d.smtp_port);
    w.fixed_string(d.pop3_server);
    w.word16(d.pop3_port);
    w.byte(d.marker);
    w.byte(d.version / 100 % 10);
    w.byte(d.version / 10 % 10);
    w.byte(d.version % 10);
    w.fixed_string("");
    if (d.version >= 112) w.fixed_string(d.top_page);
    if (d.version >= 116) w.fixed_string(d.admin_password);
    if (d.version >= 135) {
        w.byte(120);
        Bytes colours;
        for (uint32_t c : d.colours) {
            Bytes le = little_endian(c, 4);
            colours.insert(colours.end(), le.begin(), le.end());
        }
        w.block(colours);
        w.fixed_string(d.background_image);
        w.fixed_string(d.fixed_quotation);
    }
    if (d.version >= 142) w.block(Bytes(4, 0), false);
    if (d.version >= 150) {
        w.block(little_endian(d.format_word, 2));
        w.block(little_endian(static_cast<uint32_t>(d.log_size_kb), 2));
        w.fixed_string(d.log_folder);
    }
    return img;
}

Image build_slot(const SlotDesc& d, uint8_t file_key) {
    Image img = random_image(kSlotBytes, d.filler_seed);
    Downward w(img, kSlotBytes - 1, file_key);
    uint8_t step = 0;
    for (int s = 0; s < 3; s++) {
        const SetDesc& set = d.set[s];
        w.fixed_string(set.id);
        step = xor_or_78(set.id);
        w.rolling(set.password, step, false);
        w.rolling(set.name, step, false);
        w.rolling(set.mail_address, step, false);
        w.rolling(set.smtp_name, step, false);
        w.word16(set.smtp_port);
        w.rolling(set.pop3_name, step, false);
        w.word16(set.pop3_port);
        w.rolling(set.signature, step, true);
        w.rolling(set.quotation, step, false);
        if (s == 0 && d.book == Book::inline_text) {
            w.rolling(d.book_text, step, true);
        } else if (s == 0 && d.book == Book::overflow) {
            w.byte(1);
            w.byte(0);
            w.byte(0);
        } else {
            w.byte(0);
        }
        w.rolling(set.reserved_a, step, false);
        w.rolling(set.reserved_b, step, false);
        w.byte(set.apop_flag);
        w.byte(set.mail_security);
        w.byte(set.smtp_auth);
    }
    w.skip(1);
    w.rolling(std::string(d.options.begin(), d.options.end()), step, false, false);
    return img;
}

Bytes data_file(const Image& header, const std::vector<Image>& slots, const Bytes& tail) {
    Bytes out = header.bytes;
    for (const Image& s : slots) out.insert(out.end(), s.bytes.begin(), s.bytes.end());
    out.insert(out.end(), tail.begin(), tail.end());
    return out;
}

} // namespace store_image
