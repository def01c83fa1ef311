// The reply reader of the SMTP exchange: bytes in, commands out, one reply
// line at a time. It never touches the socket's reading side, so it is fed
// from tests just as from the worker.
#include "mail/compose/compose_message.h"
#include "mail/date/local_seconds.h"
#include "mail/smtp/smtp_client.h"
#include "mail/smtp/smtp_state.h"
#include "server/output/send_status.h"
#include "server/text/address.h"
#include "server/text/command_text.h"
#include "store/data_file.h"

#include <cstdio>
#include <cstring>
#include <sys/socket.h>

void (*SentLogAppend)(Connection& c) = nullptr;

namespace {

const SettingsSet& Sender(const Connection& c) {
    const int set = c.settingsIndex >= 0 && c.settingsIndex < kSettingsSets ? c.settingsIndex : 0;
    return c.user->set[set];
}

// Ends the exchange as a refusing server would: the error block, then QUIT.
void Refuse(Connection& c, const char* reply) {
    c.workerResult = kSmtpQuitSent;
    smtp_error_block(c, reply);
    smtp_send(c, "QUIT\r\n");
}

const char* RecipientList(const Connection& c, int list) {
    return list == 0 ? c.send.sendTo : list == 1 ? c.send.sendCc : c.send.sendBcc;
}

// Sends RCPT TO for the next non-empty item of the lists (To, then Cc, then
// Bcc), or DATA when none is left.
void NextRecipient(Connection& c) {
    OutgoingMail& m = c.send;
    for (;;) {
        const char* list = RecipientList(c, m.recipientList);
        const int length = static_cast<int>(strnlen(list, kSendFieldSize));
        while (m.recipientCursor < length) {
            const char* item = list + m.recipientCursor;
            const int itemLength = static_cast<int>(strcspn(item, ","));
            m.recipientCursor += itemLength + (m.recipientCursor + itemLength < length ? 1 : 0);
            if (itemLength == 0) continue;
            char entry[kSendFieldSize];
            memcpy(entry, item, static_cast<size_t>(itemLength));
            entry[itemLength] = '\0';
            // The address ends at a line break; the item must not hold one
            // at all, or the command would carry a different recipient.
            if (!command_text_safe(entry)) {
                Refuse(c, "");
                return;
            }
            char address[kSendFieldSize];
            ExtractAddress(address, entry);
            snprintf(c.scratch, sizeof c.scratch, "RCPT TO: <%s>\r\n", address);
            smtp_send(c, c.scratch);
            return;
        }
        if (m.recipientList >= 2) break;
        m.recipientList++;
        m.recipientCursor = 0;
        c.workerResult = m.recipientList == 1 ? kSmtpRcptCc : kSmtpRcptBcc;
    }
    c.workerResult = kSmtpDataSent;
    smtp_send(c, "DATA\r\n");
}

bool BrowserGone(const Connection& c) {
    const PageState s = c.state.load();
    return s == PageState::Done || s == PageState::Closing;
}

} // namespace

bool smtp_send(Connection& c, const char* command) {
    const size_t length = strlen(command);
    const bool ended = length >= 2 && command[length - 2] == '\r' && command[length - 1] == '\n';
    if (!ended || !command_text_safe(std::string_view(command, length - 2))) {
        Refuse(c, "");
        return false;
    }
    const char* p = command;
    size_t left = length;
    while (left > 0) {
        const ssize_t w = send(c.mailSocket, p, left, MSG_NOSIGNAL);
        // A failed send shows up as a failed receive at the next step.
        if (w <= 0) return true;
        p += w;
        left -= static_cast<size_t>(w);
    }
    return true;
}

int smtp_reply_line(Connection& c) {
    const char* line = c.line;
    const int step = c.workerResult;
    if (strncmp(line, "220", 3) == 0) {
        if (step != kSmtpAwaitGreeting) return 0;
        // The status line first: a refused HELO writes the error block.
        c.workerResult = kSmtpHeloSent;
        SendStatus(c, 200);
        snprintf(c.scratch, sizeof c.scratch, "HELO %s\r\n", data_store().settings.smtp_server);
        smtp_send(c, c.scratch);
        return 0;
    }
    if (strncmp(line, "250", 3) == 0) {
        switch (step) {
        case kSmtpHeloSent: {
            const char* from = Sender(c).mail_address;
            if (!command_text_safe(from)) {
                Refuse(c, "");
                return 0;
            }
            char address[kSendFieldSize];
            ExtractAddress(address, from);
            c.workerResult = kSmtpRcptTo;
            c.send.recipientList = 0;
            c.send.recipientCursor = 0;
            snprintf(c.scratch, sizeof c.scratch, "MAIL FROM: <%s>\r\n", address);
            smtp_send(c, c.scratch);
            return 0;
        }
        case kSmtpRcptTo:
        case kSmtpRcptCc:
        case kSmtpRcptBcc:
            NextRecipient(c);
            return 0;
        case kSmtpMessageSent:
            c.workerResult = kSmtpQuitSent;
            smtp_send(c, "QUIT\r\n");
            if (SentLogAppend) SentLogAppend(c);
            return 0;
        case kSmtpQuitSent:
            return 1;
        default:
            return 0;
        }
    }
    if (strncmp(line, "354", 3) == 0) {
        ComposeMessage(c);
        if (!BrowserGone(c)) smtp_success_page(c);
        c.workerResult = kSmtpMessageSent;
        return 0;
    }
    if (strncmp(line, "221", 3) == 0) return 1;
    if (line[0] == '5' || line[0] == '4') Refuse(c, line);
    return 0;
}

int smtp_feed(Connection& c, const char* bytes, size_t n) {
    int32_t now = 0;
    for (size_t i = 0; i < n; i++) {
        const char b = bytes[i];
        if (b == '\n') {
            c.line[c.lineLength] = '\0';
            const int over = smtp_reply_line(c);
            if (now == 0) now = static_cast<int32_t>(local_seconds());
            c.lastActivity = now;
            c.lineLength = 0;
            if (over) return 1;
        } else if (b == '\r' || b == '\0') {
            continue;
        } else if (c.lineLength < kLineSize - 1) {
            // A reply longer than the line keeps its beginning, which holds
            // the code; the rest is dropped.
            c.line[c.lineLength++] = b;
        }
    }
    return 0;
}
