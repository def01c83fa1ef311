#include "server/files/static_file.h"
#include "base/date/response_date.h"
#include "base/text/path_part.h"
#include "page/output/send_status.h"
#include "page/output/style_sheet.h"
#include "server/files/file_access.h"
#include "server/files/file_answer.h"
#include <cstdio>
#include <ctime>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char* ContentTypeLine(const char* path) {
    const char* ext = Extension(path);
    if (strcasecmp(ext, "jpeg") == 0 || strcasecmp(ext, "jpg") == 0)
        return "Content-Type: image/jpeg\r\n";
    if (strcasecmp(ext, "gif") == 0) return "Content-Type: image/gif\r\n";
    if (strcasecmp(ext, "html") == 0 || strcasecmp(ext, "htm") == 0)
        return "Content-Type: text/html\r\n";
    if (strcasecmp(ext, "txt") == 0) return "Content-Type: text/plain\r\n";
    if (strcasecmp(ext, "css") == 0) return "Content-Type: text/css\r\n";
    return "Content-Type: application/octet-stream\r\n";
}

void SendDateLine(Connection& c, const char* name, time_t when) {
    char date[kResponseDateSize];
    if (response_date(date, when) < 0) date[0] = '\0';
    char line[64 + kResponseDateSize];
    snprintf(line, sizeof line, "%s: %s\r\n", name, date);
    SendRaw(c, line);
}

} // namespace

void StaticFile(Connection& c) {
    struct stat st {};
    fstat(c.file, &st);
    SendRaw(c, "HTTP/1.0 200 OK\r\n");
    SendSafetyLines(c);
    SendDateLine(c, "Date", time(nullptr));
    SendRaw(c, "Connection: close\r\n");
    SendRaw(c, ContentTypeLine(c.download.path));
    SendDateLine(c, "Last-Modified", st.st_mtime);
    // Its name changes with its text: a browser never needs to ask again.
    if (style_sheet_path() == c.download.path)
        SendRaw(c, "Cache-Control: public, max-age=31536000, immutable\r\n");
    char line[64];
    snprintf(line, sizeof line, "Content-Length: %lld\r\n\r\n", static_cast<long long>(st.st_size));
    SendRaw(c, line);
    if (c.route == Route::Static) {
        c.state = PageState::StaticStream;
    } else {
        CloseFile(c);
        c.state = PageState::Done;
    }
}

void StaticStreamStep(Connection& c) {
    char block[kStreamBlock];
    ssize_t n = c.file >= 0 ? read(c.file, block, sizeof block) : -1;
    bool sent = n <= 0 || SendBlock(c, block, static_cast<size_t>(n));
    // A short read is the end of the file; a client that has gone needs
    // nothing more.
    if (n < static_cast<ssize_t>(sizeof block) || !sent) {
        CloseFile(c);
        c.state = PageState::Done;
    }
}
