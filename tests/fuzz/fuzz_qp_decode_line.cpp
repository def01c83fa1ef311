// One body line of quoted-printable into a destination of exactly len + 3.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "mail/charset/quoted_printable.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 1 << 20) return 0;
    const int len = static_cast<int>(size);
    std::unique_ptr<char[]> line(new char[size]);
    std::memcpy(line.get(), data, size);
    std::unique_ptr<char[]> out(new char[size + 3]);
    const int n = qp_decode_line(out.get(), line.get(), len);
    if (n < 0 || n > len + 2 || out[n] != '\0') std::abort();
    return 0;
}
