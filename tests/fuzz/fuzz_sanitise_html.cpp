// Arbitrary bytes as a saved HTML part of a message. Besides memory safety it
// checks the page the cleaner writes three ways: an audit written apart from
// the cleaner finds nothing a browser would execute; an HTML5 parser reading
// the part in its place on the page finds only what the cleaner lets through
// and the reply form after it where the page put it; and cleaning the output
// again changes nothing. The last holds for input of printable ASCII, tabs
// and line ends without "cid:": other bytes are converted (ISO-2022-JP to
// Shift_JIS, half-width katakana to full width by the output filter) and a
// cid: reference becomes a path of the gateway, which a second cleaning
// drops as it drops every relative URL.
#include "../unit/mail/view/markup_audit.h"
#include "fuzz.h"
#include "html5_audit.h"
#include "mail/view/html_clean.h"
#include "mail/view/view_state.h"

namespace {

std::string Clean(std::string_view html) {
    Captured run;
    run.c->user = &Taro();
    write_clean_html(*run.c, html.data(), html.size());
    check(run.c->view.cidSeenLength >= 0 && run.c->view.cidSeenLength < kCidSeenSize);
    return run.page;
}

bool FixedPointExpected(std::string_view html) {
    std::string urlForm; // URLs lose tabs and line ends anywhere: "ci\rd:"
    for (char ch : html) {
        const auto b = static_cast<unsigned char>(ch);
        if (b >= 0x7F || (b < 0x20 && b != '\t' && b != '\n' && b != '\r')) return false;
        if (b >= 0x20) urlForm += ch;
    }
    return markup_audit::LowerCopy(urlForm).find("cid:") == std::string::npos;
}

[[noreturn]] void Fail(const char* what, const std::string& finding, const std::string& page) {
    fprintf(stderr, "%s: %s\npage:\n", what, finding.c_str());
    fwrite(page.data(), 1, page.size(), stderr);
    fputc('\n', stderr);
    abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view html(reinterpret_cast<const char*>(data), size);
    const std::string page = Clean(html);
    std::string finding = markup_audit::Audit(page);
    if (!finding.empty()) Fail("executable markup", finding, page);
    finding = html5_audit::Audit(page);
    if (!finding.empty()) Fail("as a browser parses it", finding, page);
    if (FixedPointExpected(html)) {
        const std::string again = Clean(page);
        if (again != page) Fail("cleaning the page again changes it", again, page);
    }
    return 0;
}
