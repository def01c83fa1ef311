// The files of a message's parts in the user's temp folder.
#include "base/buffered_file.h"
#include "base/global_lock.h"
#include "base/server_paths.h"
#include "base/text/messages.h"
#include "base/text/path_part.h"
#include "mail/mime/mime_parser.h"
#include "mail/mime/mime_state.h"
#include "mail/view/html_clean.h"
#include "mail/view/message_view.h"
#include "mail/view/part_names.h"
#include "mail/view/view_internal.h"
#include "mail/view/view_state.h"
#include "page/output/output_text.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// An HTML part larger than this is cleaned from its beginning only.
constexpr size_t kMaxHtmlBytes = 16u << 20;

bool MakeFolder(const std::string& folder) {
    std::lock_guard<std::recursive_mutex> hold(globalLock);
    if (mkdir(server_paths().temp.c_str(), 0700) != 0 && errno != EEXIST) return false;
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return false;
    struct stat st {};
    return lstat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Two parts of one message that carry the same name must not share a file.
bool NameTaken(const UserRecord& user, int slot, const char* name) {
    for (int i = 0; i < slot; i++)
        if (strcmp(user.runtime.attachments[i].file_name, name) == 0) return true;
    return false;
}

// Creates the slot's file, replacing any file of that name; when that fails
// a letter goes in before the extension, "a" to "z", each try keeping the
// letters before it. Returns the descriptor, or -1 with no file.
int CreateFile(const std::string& folder, const UserRecord& user, int slot, char* name,
               size_t size) {
    const char* extension = Extension(name);
    std::string base(name, extension[0] ? static_cast<size_t>(extension - 1 - name) : strlen(name));
    const std::string dotted = extension[0] ? std::string(".") + extension : "";
    for (char letter = 0; letter <= 'z'; letter = letter ? static_cast<char>(letter + 1) : 'a') {
        if (letter) {
            base += letter;
            const std::string next = base + dotted;
            if (next.size() >= size) return -1;
            memcpy(name, next.c_str(), next.size() + 1);
        }
        if (NameTaken(user, slot, name)) continue;
        const std::string path = folder + "/" + name;
        // A fresh file rather than a truncated one: a download still reading
        // the old file keeps its bytes.
        unlink(path.c_str());
        const int fd =
            open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0) return fd;
    }
    return -1;
}

// The image or link that stands for a saved part on the page.
void OfferPart(Connection& c, const AttachmentEntry& slot, uint16_t cls) {
    if (c.state.load() == PageState::TextWait) return;
    // A part the HTML shows through its Content-ID has its place there.
    if (slot.message_name[0] && cid_referenced(c, slot.message_name)) return;
    std::string url;
    if (!attachment_url(url, c, slot.file_name, false)) return;
    const std::string name = MarkupEscape(slot.file_name);
    const bool bitmap = strcasecmp(Extension(slot.file_name), "bmp") == 0;
    if (cls == kClassImage && !bitmap) {
        OutputFormat(c, 0, "\r\n<center><img src=\"%s\"></center>\r\n", url.c_str());
        return;
    }
    if (c.browser & kBrowserMsie) OutputText(c, "\r\n", 0);
    OutputFormat(c, 0, "\r\n<center><font size=+1>%s : <a href=\"%s\">%s</a></font></center>\r\n",
                 Message(kMsgAttachedFile, c.english), url.c_str(), name.c_str());
}

} // namespace

void write_part_file(Connection& c, const char* bytes, int n) {
    // A full disk leaves the file short; the page goes on.
    if (n > 0) BufferedWrite(c.file, c.fileBuffer, c.fileBuffered, bytes, static_cast<size_t>(n));
}

void open_part_file(Connection& c) {
    // TOP replies read while looking for the next part of divided mail
    // belong to other messages.
    if (!c.user || c.mime.dividedPhase == 3) return;
    if (c.file >= 0) finish_part_file(c);
    UserRecord& user = *c.user;
    const int slot = user.runtime.attachmentCount.load();
    if (slot < 0 || slot >= kMaxAttachments) return;
    AttachmentEntry& entry = user.runtime.attachments[slot];
    const std::string folder = user_temp_folder(user);
    if (folder.empty() || !MakeFolder(folder)) return;
    entry.writing = 1;
    make_part_name(entry.file_name, sizeof entry.file_name, slot);
    const int fd = CreateFile(folder, user, slot, entry.file_name, sizeof entry.file_name);
    if (fd < 0) {
        entry.writing = 0;
        return;
    }
    c.file = fd;
    c.fileBuffered = 0;
    c.view.partFileSlot = slot;
    c.view.partFileClass = c.mime.contentClass;
    if (c.mime.contentClass != kClassHtml) OfferPart(c, entry, c.mime.contentClass);
}

const MimePartPage kMimePartPage = {open_part_file};

void finish_part_file(Connection& c) {
    const int slot = c.view.partFileSlot;
    c.view.partFileSlot = -1;
    if (c.file < 0) return;
    FlushFile(c.file, c.fileBuffer, c.fileBuffered);
    close(c.file);
    c.file = -1;
    if (!c.user || slot < 0 || slot >= kMaxAttachments) return;
    AttachmentEntry& entry = c.user->runtime.attachments[slot];
    if (c.view.partFileClass == kClassHtml) {
        entry.writing = 0;
        const std::string folder = user_temp_folder(*c.user);
        if (!folder.empty()) sanitise_html(c, (folder + "/" + entry.file_name).c_str());
        // The slot is free again for the next part.
        return;
    }
    c.user->runtime.attachmentCount.fetch_add(1);
    entry.writing = 0;
}

void sanitise_html(Connection& c, const char* path) {
    const int fd = open(path, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return;
    std::vector<char> html;
    char block[16384];
    for (;;) {
        const ssize_t n = read(fd, block, sizeof block);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        const size_t take = std::min(static_cast<size_t>(n), kMaxHtmlBytes - html.size());
        html.insert(html.end(), block, block + take);
        if (html.size() >= kMaxHtmlBytes) break;
    }
    close(fd);
    write_clean_html(c, html.data(), html.size());
    unlink(path);
}

void delete_user_files(UserRecord* user) {
    if (!user) return;
    UserRuntime& rt = user->runtime;
    const std::string folder = user_temp_folder(*user);
    std::lock_guard<std::recursive_mutex> hold(globalLock);
    const int count = rt.attachmentCount.load();
    for (int i = 0; i < kMaxAttachments; i++) {
        AttachmentEntry& entry = rt.attachments[i];
        if (i >= count && !entry.file_name[0]) continue;
        if (!folder.empty() && safe_file_name(entry.file_name))
            unlink((folder + "/" + entry.file_name).c_str());
        entry.file_name[0] = '\0';
        entry.message_name[0] = '\0';
        entry.writing = 0;
    }
    rt.attachmentCount = 0;
}
