// Arbitrary bytes as the reply lines of a RETR (or of TOP in list mode), cut
// at line feeds the way the POP3 client cuts them and handed to the message
// view; no socket, so the commands it sends go nowhere. The first byte picks
// the page variant. Besides memory safety it checks that the page carries
// nothing a browser would execute (and that the text download goes out as an
// attachment), that every saved file stays directly in the user's temp
// folder, and the bounds of what the view keeps.
#include "../unit/mail/view/markup_audit.h"
#include "base/server_paths.h"
#include "fuzz.h"
#include "mail/mime/mime_parser.h"
#include "mail/pop3/pop3_client.h"
#include "mail/pop3/pop3_state.h"
#include "mail/view/message_view.h"
#include "mail/view/view_state.h"

namespace {

// A line as the POP3 client dispatches it.
void Dispatch(Connection& c, const char* line) {
    const uint16_t step = c.workerResult;
    if (step != Retrieving && step != FetchingHeaders) return;
    if (step == Retrieving && c.pop3.headerPhase == 0) {
        pop3_view_asks(c, view_body_line(c, line));
    } else if (strncmp(line, "+OK", 3) != 0 && strncmp(line, "-ERR", 4) != 0) {
        if (step == FetchingHeaders)
            collect_top_line(c, line);
        else
            pop3_view_asks(c, view_header_line(c, line));
    }
}

// Only files directly inside temp/taro may have been made.
void CheckFiles() {
    const std::string& home = ScratchFolder("tarnbox-fuzz-view");
    const std::filesystem::path temp = std::filesystem::path(home) / "temp";
    const std::filesystem::path allowed = temp / "taro";
    std::error_code error;
    for (auto it = std::filesystem::recursive_directory_iterator(home, error);
         !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
        const std::filesystem::path p = it->path();
        if (p == temp || p == allowed) continue;
        check(p.parent_path() == allowed && !it->is_directory(), "file outside the user's folder");
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const std::string& home = ScratchFolder("tarnbox-fuzz-view");
    std::filesystem::create_directories(home + "/temp");
    server_paths() = ServerPaths{home, home + "/html", home + "/temp", home + "/user"};
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const uint8_t mode = data[0];
    UserRecord& user = Taro();
    delete_user_files(&user);
    user.options[folding] = mode & 1;
    user.options[header_flag] = (mode >> 1) & 1;
    user.options[save_text] = (mode >> 2) & 1;

    Captured run;
    Connection* c = run.c;
    const std::string& page = run.page;
    c->user = &user;
    c->english = (mode >> 3) & 1;
    c->browser = (mode & 0x10) ? 0 : kBrowserMozilla2 | kBrowserMozilla4 | kBrowserMsie;
    c->itemNumber = 1 + ((mode >> 5) & 3);
    c->state = (mode & 0x80) ? PageState::TextWait : PageState::MessageWait;
    c->workerResult = Retrieving;
    if ((mode & 0xE0) == 0xE0) {
        c->state = PageState::ListWait;
        c->workerResult = FetchingHeaders;
    }
    c->pop3.headerPhase = 1;
    c->view.partFileSlot = -1;
    snprintf(c->loginQuery, sizeof c->loginQuery, "?user=taro?check=1");
    mime_reset(*c);

    // Lines as the client keeps them: CR and NUL dropped, at most 4,095 bytes.
    std::string line;
    for (size_t i = 1; i <= size; i++) {
        const char b = i < size ? static_cast<char>(data[i]) : '\n';
        if (b == '\n') {
            Dispatch(*c, line.c_str());
            line.clear();
        } else if (b != '\r' && b != '\0' && line.size() < kLineSize - 1) {
            line += b;
        }
    }
    // The message ends, however many parts it still waits for.
    for (int i = 0; i < 4 && c->workerResult != Quitting; i++) Dispatch(*c, ".");
    finish_part_file(*c);

    check(c->file == -1, "file left open");
    check(c->view.quotationLength >= 0 && c->view.quotationLength <= kQuotationTextSize,
          "quotation length");
    check(memchr(c->quotationText, '\0', kQuotationTextSize) != nullptr, "quotation text");
    const int count = user.runtime.attachmentCount;
    check(count >= 0 && count <= kMaxAttachments, "slot count");
    for (int i = 0; i < count; i++) {
        const char* name = user.runtime.attachments[i].file_name;
        check(name[0] && strcmp(name, ".") != 0 && strcmp(name, "..") != 0 && !strchr(name, '/'),
              "unsafe slot name");
        check(user.runtime.attachments[i].writing == 0, "slot left writing");
    }
    CheckFiles();
    if (c->state.load() == PageState::TextWait) {
        // The text file is never shown as a page: it goes out as an attachment.
        const size_t head = page.find("\r\n\r\n");
        check(page.empty() || (page.rfind("HTTP/1.0 200 OK\r\n", 0) == 0 &&
                               page.find("\r\nContent-Disposition: attachment\r\n") < head),
              "download without its header");
        return 0;
    }
    const std::string finding = markup_audit::Audit(page);
    check(finding.empty(), ("executable markup: " + finding).c_str());
    return 0;
}
