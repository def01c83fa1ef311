// Received text in any code: convert in place in every mode, in a buffer of
// exactly len + 1 bytes; the result never grows and is terminated. The EUC-JP
// copy must never grow either.
#include "base/charset/detect.h"
#include "fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 1 << 20) return 0;
    const int len = static_cast<int>(size);
    for (int mode = 0; mode <= 2; ++mode) {
        const auto buf = Exactly(data, size, size + 1);
        const int n = convert_to_sjis(buf.get(), len, mode);
        check(n >= 0 && n <= len && buf[n] == '\0');
    }
    const auto src = Exactly(data, size, size);
    std::unique_ptr<char[]> dst(new char[size + 1]);
    const int n = euc_to_sjis(dst.get(), src.get(), len);
    check(n >= 0 && n <= len && dst[n] == '\0');
    return 0;
}
