// Arbitrary text into a destination of exactly base64_decoded_max(len); the
// decoded bytes must encode and decode back to themselves.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "mail/charset/base64.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 1 << 20) return 0;
    const int len = static_cast<int>(size);
    std::unique_ptr<char[]> src(new char[size]);
    std::memcpy(src.get(), data, size);
    const int max = base64_decoded_max(len);
    std::unique_ptr<char[]> bytes(new char[max]);
    const int n = base64_decode(bytes.get(), src.get(), len);
    if (n < 0 || n > max) std::abort();

    const int enc_size = base64_encoded_size(n);
    std::unique_ptr<char[]> text(new char[enc_size]);
    if (base64_encode(text.get(), bytes.get(), n) != enc_size) std::abort();
    std::unique_ptr<char[]> again(new char[base64_decoded_max(enc_size)]);
    const int m = base64_decode(again.get(), text.get(), enc_size);
    if (m != n || std::memcmp(again.get(), bytes.get(), n) != 0) std::abort();
    return 0;
}
