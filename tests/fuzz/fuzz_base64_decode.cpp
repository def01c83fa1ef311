// Arbitrary text into a destination of exactly base64_decoded_max(len); the
// decoded bytes must encode and decode back to themselves.
#include "base/charset/base64.h"
#include "fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 1 << 20) return 0;
    const int len = static_cast<int>(size);
    const auto src = Exactly(data, size, size);
    const int max = base64_decoded_max(len);
    std::unique_ptr<char[]> bytes(new char[max]);
    const int n = base64_decode(bytes.get(), src.get(), len);
    check(n >= 0 && n <= max);

    const int enc_size = base64_encoded_size(n);
    std::unique_ptr<char[]> text(new char[enc_size]);
    check(base64_encode(text.get(), bytes.get(), n) == enc_size);
    std::unique_ptr<char[]> again(new char[base64_decoded_max(enc_size)]);
    const int m = base64_decode(again.get(), text.get(), enc_size);
    check(m == n && memcmp(again.get(), bytes.get(), n) == 0);
    return 0;
}
