// Header values from the network: decode into destinations of several sizes
// (the readers' 4096 and small ones chosen by the input) and check the result
// is terminated inside them and that a cut result is a prefix of the whole.
#include "base/charset/encoded_words.h"
#include "fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const int small = 1 + data[0] % 64;
    const auto value = Exactly(data + 1, size - 1, size);

    std::unique_ptr<char[]> full(new char[kDecodedHeaderSize]);
    const int n = decode_encoded_words(full.get(), kDecodedHeaderSize, value.get());
    check(n < kDecodedHeaderSize);
    const int full_len = n >= 0 ? n : static_cast<int>(strlen(full.get()));

    std::unique_ptr<char[]> cut(new char[small]);
    const int m = decode_encoded_words(cut.get(), small, value.get());
    check(m < small);
    const int cut_len = static_cast<int>(strlen(cut.get()));
    check(m < 0 || m >= cut_len); // decoded NUL bytes may end the string early
    check(cut_len <= full_len && memcmp(cut.get(), full.get(), cut_len) == 0);
    return 0;
}
