// Arbitrary bytes as a message, split into lines and driven through the MIME
// parser the way the message view drives it: header lines, the header block,
// part headers, boundaries and body lines. The first byte picks the page (a
// message, its text download or the list) and the line cut. Besides memory
// safety it checks the bounds of every buffer the parser fills and of every
// yield. Parts are never saved: the temp folder does not exist.
#include "base/server_paths.h"
#include "fuzz.h"
#include "mail/mime/mime_parser.h"
#include "mail/mime/mime_state.h"
#include "mail/pop3/pop3_state.h"

namespace {

void checkBounds(const Connection& c) {
    const MimeState& m = c.mime;
    checkText(m.headerBlock);
    checkText(m.partHeaderBlock);
    check(m.boundaryCount <= kMaxBoundaries);
    for (const auto& b : m.boundaries) checkText(b);
    check(m.base64CarryLength >= 0 && m.base64CarryLength <= kBase64CarrySize);
    check(m.foreignCarryLength <= sizeof m.foreignCarry);
    check(m.contentClass <= kClassTextInAlternative);
    check(m.transferMode <= kTransferEucJp);
    for (const char* s : {m.subjectLine, m.dateLine, m.fromLine, m.toLine, m.ccLine, m.replyTo,
                          m.messageId, m.references, m.inReplyTo, m.contentType}) {
        check(strnlen(s, kHeaderFieldSize) < static_cast<size_t>(kHeaderFieldSize));
    }
    checkText(m.partialId);
    checkText(m.textCharset);
    if (c.user) {
        check(c.user->runtime.attachmentCount.load() == 0);
        for (const auto& a : c.user->runtime.attachments) {
            checkText(a.file_name);
            checkText(a.message_name);
            check(a.file_name[0] == '\0' || !strchr(a.file_name, '/'));
        }
    }
}

struct Fixture : Captured {
    UserRecord user;

    Fixture() {
        server_paths() =
            ServerPaths{"/nonexistent-tarnbox-fuzz", "/nonexistent-tarnbox-fuzz/html",
                        "/nonexistent-tarnbox-fuzz/temp", "/nonexistent-tarnbox-fuzz/user"};
        snprintf(user.set[0].id, sizeof user.set[0].id, "taro");
    }
};

void feed_line(Connection& c, const char* line, bool& body) {
    if (!body) {
        if (line[0]) {
            collect_header_line(c, line);
        } else {
            parse_header_block(c, c.mime.headerBlock);
            body = true;
        }
        return;
    }
    if (c.mime.inPartHeader) {
        part_header_line(c, line);
        return;
    }
    if (is_boundary_line(c, line)) return;
    char out[kLineSize + 8];
    // A small capacity now and then, to test the cuts.
    const size_t cap = (line[0] & 7) == 7
                           ? 1 + static_cast<unsigned char>(line[1] ? line[1] : 0) % 16
                           : sizeof out;
    const int n = decode_body_line(c, line, out, cap);
    check(n >= 0 && static_cast<size_t>(n) < cap && out[n] == '\0');
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Fixture& fx = *new Fixture; // never freed: at exit the pool may be gone
    if (size == 0) return 0;
    Connection& c = *fx.c;
    const uint8_t mode = data[0];
    fx.page.clear();
    fx.user.runtime.attachmentCount = 0;
    for (auto& a : fx.user.runtime.attachments) a.file_name[0] = a.message_name[0] = '\0';
    c.user = (mode & 0x10) ? nullptr : &fx.user;
    c.state = (mode & 1) ? PageState::TextWait : PageState::MessageWait;
    c.workerResult = (mode & 2) ? FetchingHeaders : Retrieving;
    mime_reset(c);
    if (mode & 4) c.mime.dividedPhase = 3;
    if (mode & 8) c.mime.sjisParameters = 1;

    // Lines end at LF as the POP3 client cuts them (CR and NUL are dropped
    // there); every 0x20th input byte may also be a cut, for very long lines.
    std::string line;
    bool body = false;
    const bool cut_long = mode & 0x20;
    for (size_t i = 1; i < size; ++i) {
        const char b = static_cast<char>(data[i]);
        if (b == '\r' || b == '\0') continue;
        if (b != '\n' && !(cut_long && line.size() >= kLineSize - 1)) {
            line += b;
            continue;
        }
        feed_line(c, line.c_str(), body);
        checkBounds(c);
        line.clear();
        if (b != '\n') line += b;
    }
    if (!line.empty()) feed_line(c, line.c_str(), body);
    checkBounds(c);
    return 0;
}
