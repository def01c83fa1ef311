// The detector reads exactly the given length. The same bytes, terminated,
// also go through the other readers of NUL-terminated Shift_JIS text with
// small exact destinations.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "mail/charset/detect.h"
#include "mail/charset/header_encode.h"
#include "mail/charset/header_text.h"
#include "mail/charset/sjis.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 1 << 20) return 0;
    std::unique_ptr<char[]> bytes(new char[size]);
    std::memcpy(bytes.get(), data, size);
    const int code = detect_japanese_code(bytes.get(), static_cast<int>(size));
    if (code < 0 || code > 2) std::abort();

    std::unique_ptr<char[]> text(new char[size + 1]);
    std::memcpy(text.get(), data, size);
    text[size] = '\0';
    has_sjis(text.get());
    if (size > 0) {
        const int at = sjis_find(text.get(), static_cast<char>(data[0]));
        if (at >= static_cast<int>(size)) std::abort();
    }
    const int room = 1 + (size > 0 ? data[size - 1] % 96 : 0);
    std::unique_ptr<char[]> out(new char[room]);
    if (sjis_copy(out.get(), text.get(), room) >= room) std::abort();
    if (copy_header_text(out.get(), text.get(), room) >= room) std::abort();
    if (encode_header_words(out.get(), room, text.get()) >= room) std::abort();
    if (std::strlen(out.get()) >= static_cast<std::size_t>(room)) std::abort();
    return 0;
}
