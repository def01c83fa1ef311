// One body line of quoted-printable into a destination of exactly len + 3.
#include "base/charset/quoted_printable.h"
#include "fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 1 << 20) return 0;
    const int len = static_cast<int>(size);
    const auto line = Exactly(data, size, size);
    std::unique_ptr<char[]> out(new char[size + 3]);
    const int n = qp_decode_line(out.get(), line.get(), len);
    check(n >= 0 && n <= len + 2 && out[n] == '\0');
    return 0;
}
