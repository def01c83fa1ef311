// The detector reads exactly the given length. The same bytes, terminated,
// also go through the other readers of NUL-terminated Shift_JIS text with
// small exact destinations.
#include "base/charset/detect.h"
#include "base/charset/header_encode.h"
#include "base/charset/header_text.h"
#include "base/charset/sjis.h"
#include "fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 1 << 20) return 0;
    const int code = detect_japanese_code(Exactly(data, size, size).get(), static_cast<int>(size));
    check(code >= 0 && code <= 2);

    const auto text = Exactly(data, size, size + 1);
    has_sjis(text.get());
    if (size > 0) check(sjis_find(text.get(), static_cast<char>(data[0])) < static_cast<int>(size));
    const int room = 1 + (size > 0 ? data[size - 1] % 96 : 0);
    std::unique_ptr<char[]> out(new char[room]);
    check(sjis_copy(out.get(), text.get(), room) < room);
    check(copy_header_text(out.get(), text.get(), room) < room);
    check(encode_header_words(out.get(), room, text.get()) < room);
    check(strlen(out.get()) < static_cast<size_t>(room));
    return 0;
}
