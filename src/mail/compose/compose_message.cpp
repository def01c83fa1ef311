#include "mail/compose/compose_message.h"
#include "base/charset/base64.h"
#include "base/charset/detect.h"
#include "base/charset/header_encode.h"
#include "base/charset/sjis.h"
#include "base/charset/utf8_text.h"
#include "base/date/local_seconds.h"
#include "base/date/outgoing_date.h"
#include "base/server_paths.h"
#include "base/text/address.h"
#include "mail/compose/outgoing.h"
#include "mail/compose/smtp_stage.h"
#include "mail/compose/stream_jis.h"
#include "mail/mime/mime_state.h"
#include "mail/net/mail_link.h"
#include "page/form_reading.h"
#include "page/output/output_text.h"
#include "store/data_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

namespace {

constexpr char kVersionText[] = "1.51";
// 48 lines of 57 bytes: every chunk but the last encodes to whole 76-character
// lines, so padding can only close the file.
constexpr int kChunkBytes = 2736;
constexpr int kBase64Line = 76;
// A space to the browser every this many chunks keeps its connection busy
// while a large file goes out.
constexpr int kChunksPerKeepAlive = 100;

const SettingsSet& Sender(const Connection& c) {
    const int set = c.settingsIndex >= 0 && c.settingsIndex < kSettingsSets ? c.settingsIndex : 0;
    return c.user->set[set];
}

// Sends a header line through the encoder that makes Japanese into encoded
// words and folds long values.
void PutEncoded(SmtpStage& out, const char* line) {
    // What Shift_JIS cannot hold came as references: such a line needs UTF-8.
    if (has_character_references(line)) {
        out.put(encode_header_words_utf8(line).c_str());
        return;
    }
    char encoded[8192];
    const int n = encode_header_words(encoded, line);
    out.put(encoded, n >= 0 ? static_cast<size_t>(n) : strlen(encoded));
}

// Any byte outside ASCII goes out as ISO-2022-JP, half-width katakana alone
// included, so the label must say so.
bool NeedsJis(const char* text) {
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; p++)
        if (*p >= 0x80) return true;
    return false;
}

// The text of the form goes out as ISO-2022-JP while it fits; a character
// outside Shift_JIS (posted as a reference) makes the whole text UTF-8.
bool TextNeedsUtf8(const Connection& c) {
    return has_character_references(c.messageText, strnlen(c.messageText, kMessageTextSize));
}

const char* TextContentType(const Connection& c) {
    const OutgoingMail& m = c.send;
    if (TextNeedsUtf8(c))
        return "Content-Type: text/plain; charset=UTF-8\r\n"
               "Content-Transfer-Encoding: base64\r\n";
    const bool jis = NeedsJis(m.sendSubject) || NeedsJis(c.messageText) || NeedsJis(m.fromLine) ||
                     NeedsJis(m.toLine) || NeedsJis(m.ccLine) || NeedsJis(m.bccLine);
    return jis ? "Content-Type: text/plain; charset=ISO-2022-JP\r\n"
               : "Content-Type: text/plain; charset=US-ASCII\r\n";
}

void WriteHeaders(Connection& c, SmtpStage& out, const char* textType) {
    const BasicSettings& s = data_store().settings;
    const OutgoingMail& m = c.send;
    char line[1024];
    if (s.mail_options & kMailAddDate) {
        if (outgoing_date_header(line) > 0) out.put(line);
    }
    if (s.mail_options & kMailAddMessageId) {
        const uint32_t t = local_seconds();
        const uint32_t mixed = t * static_cast<uint32_t>(c.mail.socket);
        snprintf(line, sizeof line, "Message-Id: <%d.%X.%s>\r\n", static_cast<int>(t), mixed,
                 Sender(c).mail_address);
        out.put(line);
    }
    PutEncoded(out, m.subjectLine);
    PutEncoded(out, m.fromLine);
    PutEncoded(out, m.toLine);
    if (m.sendCc[0]) PutEncoded(out, m.ccLine);
    // The Bcc list is never written: its recipients stay unseen.
    char id[kHeaderFieldSize];
    char references[kHeaderFieldSize];
    sjis_copy(id, c.user->runtime.lastMessageId);
    sjis_copy(references, c.user->runtime.replyReferences);
    if (id[0]) {
        snprintf(line, sizeof line, "In-Reply-To: %s\r\n", id);
        PutEncoded(out, line);
    }
    if (references[0]) {
        snprintf(line, sizeof line, "References: %s\r\n", references);
        PutEncoded(out, line);
    }
    out.put("MIME-Version: 1.0\r\n");
    if (c.uploadCount > 0) {
        snprintf(line, sizeof line, "Content-Type: multipart/mixed; boundary=\"%s\"\r\n",
                 c.form.boundary + 2);
        out.put(line);
        out.put("Content-Transfer-Encoding: 7bit\r\n");
    } else {
        out.put(textType);
        if (!strstr(textType, "Transfer-Encoding")) out.put("Content-Transfer-Encoding: 7bit\r\n");
    }
    snprintf(line, sizeof line, "X-Mailer: Tarnbox Version %.4s\r\n", kVersionText);
    out.put(line);
}

void PutBase64Lines(SmtpStage& out, const char* encoded, int n) {
    for (int i = 0; i < n; i += kBase64Line) {
        const int take = n - i < kBase64Line ? n - i : kBase64Line;
        out.put(encoded + i, static_cast<size_t>(take));
        out.put("\r\n", 2);
    }
}

void WriteOneAttachment(Connection& c, SmtpStage& out, int n, std::string* capture) {
    const char* name = c.uploadNames[n];
    const char* e = UploadExtension(name);
    const char* type = "application/octet-stream";
    const char* disposition = "attachment";
    if (!strcasecmp(e, "jpg") || !strcasecmp(e, "jpeg") || !strcasecmp(e, "jpe")) {
        type = "image/jpeg";
        disposition = "inline";
    } else if (!strcasecmp(e, "gif")) {
        type = "image/gif";
        disposition = "inline";
    } else if (!strcasecmp(e, "htm") || !strcasecmp(e, "html")) {
        type = "text/html";
    }
    char line[1024];
    out.put(c.form.boundary);
    out.put("\r\n", 2);
    snprintf(line, sizeof line, "Content-Type: %s; name=\"%s\"\r\n", type, name);
    PutEncoded(out, line);
    snprintf(line, sizeof line, "Content-Disposition: %s; filename=\"%s\"\r\n", disposition, name);
    PutEncoded(out, line);
    out.put("Content-Transfer-Encoding: base64\r\n\r\n");
    const std::string path = UploadPath(c, n);
    const int fd = path.empty() ? -1 : open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) {
        char chunk[kChunkBytes];
        char encoded[base64_encoded_size(kChunkBytes)];
        for (int count = 1;; count++) {
            int got = 0;
            while (got < kChunkBytes) {
                const ssize_t r = read(fd, chunk + got, static_cast<size_t>(kChunkBytes - got));
                if (r < 0 && errno == EINTR) continue;
                if (r <= 0) break;
                got += static_cast<int>(r);
            }
            PutBase64Lines(out, encoded, base64_encode(encoded, chunk, got));
            if (count % kChunksPerKeepAlive == 0 && !capture) OutputText(c, " ", 0);
            if (got < kChunkBytes) break;
            c.lastActivity = static_cast<int32_t>(local_seconds());
        }
        close(fd);
        unlink(path.c_str());
    }
    out.put("\r\n", 2);
}

} // namespace

const char* UploadExtension(const char* name) {
    const size_t n = strlen(name);
    for (size_t i = n; i-- > 0;) {
        const char b = name[i];
        if (b == '.') return name + i + 1;
        if (b == '/' || b == '\\' || b == ':') return name + n;
    }
    return name;
}

std::string UploadPath(const Connection& c, int n) {
    const char* user = c.userName;
    if (!user[0] || strchr(user, '/') || !strcmp(user, ".") || !strcmp(user, "..")) return "";
    const std::string& temp = server_paths().temp;
    if (temp.empty()) return "";
    return temp + "/" + user + "/" + user + "." + std::to_string(n);
}

void RemoveUploads(Connection& c) {
    for (int n = 0; n < c.uploadCount && n < kMaxUploads; n++) {
        const std::string path = UploadPath(c, n);
        if (!path.empty()) unlink(path.c_str());
    }
}

void FormSenderLines(Connection& c) {
    OutgoingMail& m = c.send;
    const SettingsSet& sender = Sender(c);
    snprintf(m.subjectLine, sizeof m.subjectLine, "Subject: %s\r\n", m.sendSubject);
    if (sender.name[0])
        snprintf(m.fromLine, sizeof m.fromLine, "From: %s <%s>\r\n", sender.name,
                 sender.mail_address);
    else
        snprintf(m.fromLine, sizeof m.fromLine, "From: %s\r\n", sender.mail_address);
}

void ComposeMessage(Connection& c, std::string* capture) {
    if (!c.user) return;
    SmtpStage out(c.mail.socket, c.mail.tls, capture);
    // A form post without a boundary never carries uploads; the one it would
    // need is ours then.
    if (c.uploadCount > 0 && strncmp(c.form.boundary, "--", 2) != 0)
        snprintf(c.form.boundary, sizeof c.form.boundary, "--Tarnbox-%08X", local_seconds());
    // The label is chosen on the text as posted, before the conversion below.
    const char* textType = TextContentType(c);
    WriteHeaders(c, out, textType);
    out.put("\r\n", 2);
    if (c.uploadCount > 0) {
        out.put(c.form.boundary);
        out.put("\r\n", 2);
        out.put(textType);
        out.put("\r\n", 2);
    }
    // A browser that posted ISO-2022-JP or EUC-JP text is read right too.
    int length = static_cast<int>(strnlen(c.messageText, kMessageTextSize - 1));
    length = convert_to_sjis(c.messageText, length, kCodeDetect);
    c.messageText[length] = '\0';
    c.messageLength = length;
    if (TextNeedsUtf8(c)) {
        const std::string utf8 = sjis_to_utf8(c.messageText, static_cast<size_t>(length));
        std::string encoded(static_cast<size_t>(base64_encoded_size(static_cast<int>(utf8.size()))),
                            '\0');
        const int n = base64_encode(encoded.data(), utf8.data(), static_cast<int>(utf8.size()));
        PutBase64Lines(out, encoded.data(), n);
    } else {
        StreamJis(out, c.messageText, static_cast<size_t>(length));
    }
    if (c.uploadCount > 0) {
        out.put("\r\n", 2);
        for (int n = 0; n < c.uploadCount && n < kMaxUploads; n++)
            WriteOneAttachment(c, out, n, capture);
        out.put(c.form.boundary);
        out.put("--");
    }
    out.put("\r\n.\r\n");
}
