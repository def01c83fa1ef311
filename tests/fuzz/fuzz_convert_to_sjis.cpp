// Received text in any code: convert in place in every mode, in a buffer of
// exactly len + 1 bytes; the result never grows and is terminated. The EUC-JP
// copy must never grow either.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "mail/charset/detect.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 1 << 20) return 0;
    const int len = static_cast<int>(size);
    for (int mode = 0; mode <= 2; ++mode) {
        std::unique_ptr<char[]> buf(new char[size + 1]);
        std::memcpy(buf.get(), data, size);
        const int n = convert_to_sjis(buf.get(), len, mode);
        if (n < 0 || n > len || buf[n] != '\0') std::abort();
    }
    std::unique_ptr<char[]> src(new char[size]);
    std::memcpy(src.get(), data, size);
    std::unique_ptr<char[]> dst(new char[size + 1]);
    const int n = euc_to_sjis(dst.get(), src.get(), len);
    if (n < 0 || n > len || dst[n] != '\0') std::abort();
    return 0;
}
