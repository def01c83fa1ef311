#include "base/server_paths.h"
#include "base/text/text_copy.h"
#include "page/output/not_found_page.h"
#include "page/output/send_status.h"
#include "server/files/file_access.h"
#include "server/files/file_answer.h"
#include "server/files/static_file.h"
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A name that stays inside its folder.
bool SafeName(const char* name) {
    return name[0] && strcmp(name, ".") != 0 && strcmp(name, "..") != 0 && !strchr(name, '/');
}

AttachmentEntry* Entry(Connection& c) {
    if (!c.user || c.itemNumber < 0 || c.itemNumber >= kMaxAttachments) return nullptr;
    return &c.user->runtime.attachments[c.itemNumber];
}

// The file is still offered by the user's last message.
bool IsCurrentAttachment(const UserRecord& u, const char* name) {
    int count = u.runtime.attachmentCount;
    if (count > kMaxAttachments) count = kMaxAttachments;
    for (int i = 0; i < count; i++)
        if (strcmp(u.runtime.attachments[i].file_name, name) == 0) return true;
    return false;
}

void EndDownload(Connection& c) {
    CloseFile(c);
    if (c.user && !IsCurrentAttachment(*c.user, c.download.name)) unlink(c.download.path);
    c.state = PageState::Done;
}

} // namespace

void StartDownload(Connection& c) {
    AttachmentEntry* a = Entry(c);
    const char* id = c.user ? c.user->set[0].id : "";
    std::string path;
    if (a && SafeName(a->file_name) && SafeName(id))
        path = server_paths().temp + "/" + id + "/" + a->file_name;
    if (path.empty() || path.size() >= sizeof c.download.path) {
        NotFoundPage(c);
        c.state = PageState::Done;
        return;
    }
    CopyUntil(c.download.name, a->file_name, "");
    memcpy(c.download.path, path.c_str(), path.size() + 1);
    SendRaw(c, "HTTP/1.0 200 OK\r\n");
    SendSafetyLines(c);
    SendRaw(c, "Content-Type: application/octet-stream\r\n");
    // Whatever the mail says it is, it is saved, never shown in the
    // gateway's own origin (an HTML or SVG file would run there).
    SendRaw(c, "Content-Disposition: attachment\r\n");
    c.state = PageState::DownloadStart;
}

void DownloadStartWait(Connection& c, int ms) {
    if (AttachmentEntry* a = Entry(c)) a->writing.WaitFree(ms);
}

void DownloadStartStep(Connection& c) {
    AttachmentEntry* a = Entry(c);
    if (!a) {
        c.state = PageState::Done;
        return;
    }
    // The message view may still be writing the file.
    if (a->writing) return;
    c.file = OpenRegularFile(c.download.path);
    if (c.file < 0) {
        c.state = PageState::Done;
        return;
    }
    struct stat st {};
    fstat(c.file, &st);
    char line[64];
    snprintf(line, sizeof line, "Content-Length: %lld\r\n\r\n", static_cast<long long>(st.st_size));
    SendRaw(c, line);
    c.state = PageState::DownloadStream;
}

namespace {

// Without TLS the kernel moves the file's pages to the socket itself, in
// steps larger than a read block: a step costs a pass of the dispatcher and
// a system call, and a slow client is held to the send time-out either way.
constexpr size_t kSendFileStep = 1024 * 1024;

bool SendFileBlock(Connection& c) {
    FlushClient(c);
    size_t sent = 0;
    while (sent < kSendFileStep) {
        const ssize_t n = sendfile(c.client.socket, c.file, nullptr, kSendFileStep - sent);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

} // namespace

void DownloadStreamStep(Connection& c) {
    if (c.file >= 0 && c.client.socket >= 0 && !c.client.tls) {
        if (!SendFileBlock(c)) EndDownload(c);
        return;
    }
    char block[kStreamBlock];
    ssize_t n = c.file >= 0 ? read(c.file, block, sizeof block) : -1;
    bool sent = n <= 0 || SendBlock(c, block, static_cast<size_t>(n));
    if (n < static_cast<ssize_t>(sizeof block) || !sent) EndDownload(c);
}
