// The reply reader of the SMTP exchange: bytes in, commands out, one reply
// line at a time. It never touches the socket's reading side, so it is fed
// from tests just as from the worker.
#include "base/charset/base64.h"
#include "base/date/local_seconds.h"
#include "base/socket_stream.h"
#include "base/text/address.h"
#include "base/text/command_text.h"
#include "mail/compose/compose_message.h"
#include "mail/compose/outgoing.h"
#include "mail/net/mail_link.h"
#include "mail/net/mail_tls.h"
#include "mail/oauth/oauth_client.h"
#include "mail/sent/sent_log.h"
#include "mail/smtp/smtp_client.h"
#include "mail/smtp/smtp_state.h"
#include "page/output/send_status.h"
#include "store/data_file.h"
#include "store/mail_security.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <strings.h>
#include <sys/socket.h>

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
            char command[kLineSize];
            snprintf(command, sizeof command, "RCPT TO: <%s>\r\n", address);
            smtp_send(c, command);
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

void MailFrom(Connection& c) {
    const char* from = Sender(c).mail_address;
    if (!command_text_safe(from)) {
        Refuse(c, "");
        return;
    }
    char address[kSendFieldSize];
    ExtractAddress(address, from);
    c.workerResult = kSmtpRcptTo;
    c.send.recipientList = 0;
    c.send.recipientCursor = 0;
    char command[kLineSize];
    snprintf(command, sizeof command, "MAIL FROM: <%s>\r\n", address);
    smtp_send(c, command);
}

void Hello(Connection& c, bool extended) {
    c.workerResult = extended ? kSmtpEhloSent : kSmtpHeloSent;
    c.send.offers = 0;
    char command[kLineSize];
    snprintf(command, sizeof command, "%s %s\r\n", extended ? "EHLO" : "HELO",
             data_store().settings.smtp_server);
    smtp_send(c, command);
}

// Ends the exchange for want of a secure connection; the page's wait writes
// why.
int SecureFailure(Connection& c, TlsFailure why) {
    c.mail.tlsFailure = static_cast<uint8_t>(why);
    c.workerResult = kSmtpTlsFailed;
    return 1;
}

bool Word(const char* text, const char* word) {
    const size_t n = strlen(word);
    return strncasecmp(text, word, n) == 0 && (text[n] == '\0' || text[n] == ' ');
}

// One line of the EHLO reply ("250-" or "250 " and a keyword).
void NoteOffer(Connection& c, const char* keyword) {
    if (Word(keyword, "STARTTLS")) c.send.offers |= kOfferStartTls;
    const bool auth =
        strncasecmp(keyword, "AUTH", 4) == 0 && (keyword[4] == ' ' || keyword[4] == '=');
    if (!auth) return;
    for (const char* p = keyword + 5; *p;) {
        while (*p == ' ') p++;
        if (Word(p, "PLAIN")) c.send.offers |= kOfferAuthPlain;
        if (Word(p, "LOGIN")) c.send.offers |= kOfferAuthLogin;
        if (Word(p, "XOAUTH2")) c.send.offers |= kOfferAuthXoauth2;
        while (*p && *p != ' ') p++;
    }
}

void SendBase64(Connection& c, const char* bytes, int n, const char* prefix) {
    char encoded[base64_encoded_size(300) + 1];
    if (n > 300) n = 300;
    const int length = base64_encode(encoded, bytes, n);
    encoded[length] = '\0';
    char command[kLineSize];
    snprintf(command, sizeof command, "%s%s\r\n", prefix, encoded);
    smtp_send(c, command);
}

// RFC 4954 lets an AUTH command grow to 12288 octets, but Postfix reads
// commands in lines of 2048 and its SASL responses in lines of 12288: a
// longer response goes after the server's empty 334.
constexpr size_t kInitialResponseLimit = 2000;

void SendSaslResponse(Connection& c, const char* prefix) {
    const std::string command = std::string(prefix) + c.saslResponse + "\r\n";
    socket_stream_send(c.mail.socket, c.mail.tls, command.data(), command.size());
}

// AUTH XOAUTH2 with the response the worker formed.
int Xoauth2Login(Connection& c) {
    if (!c.saslResponse[0]) {
        Refuse(c, c.saslDetail);
        return 0;
    }
    if (!(c.send.offers & kOfferAuthXoauth2)) {
        Refuse(c, "AUTH XOAUTH2");
        return 0;
    }
    if (strlen(c.saslResponse) > kInitialResponseLimit) {
        c.workerResult = kSmtpAuthXoauth2Ask;
        smtp_send(c, "AUTH XOAUTH2\r\n");
        return 0;
    }
    c.workerResult = kSmtpAuthXoauth2;
    SendSaslResponse(c, "AUTH XOAUTH2 ");
    return 0;
}

// After the final line of the EHLO reply: the upgrade, the login, or the
// envelope, whichever is due.
int AfterHello(Connection& c) {
    OutgoingMail& m = c.send;
    if (m.security == static_cast<uint8_t>(SmtpSecurity::StartTls) && !c.mail.tls) {
        if (!(m.offers & kOfferStartTls)) {
            smtp_send(c, "QUIT\r\n");
            return SecureFailure(c, TlsFailure::NotOffered);
        }
        c.workerResult = kSmtpStartTlsSent;
        smtp_send(c, "STARTTLS\r\n");
        return 0;
    }
    if (m.authWanted) {
        m.authWanted = 0;
        if (m.oauth) return Xoauth2Login(c);
        if (m.offers & kOfferAuthPlain) {
            char response[2 * sizeof m.authUser + 2];
            const int n =
                snprintf(response, sizeof response, "%c%s%c%s", 0, m.authUser, 0, m.authPassword);
            c.workerResult = kSmtpAuthSent;
            SendBase64(c, response, n, "AUTH PLAIN ");
            return 0;
        }
        if (m.offers & kOfferAuthLogin) {
            c.workerResult = kSmtpAuthLoginUser;
            smtp_send(c, "AUTH LOGIN\r\n");
            return 0;
        }
        Refuse(c, "AUTH PLAIN / LOGIN");
        return 0;
    }
    MailFrom(c);
    return 0;
}

int StartTlsAnswered(Connection& c) {
    if (!smtp_start_tls(c)) return SecureFailure(c, static_cast<TlsFailure>(c.mail.tlsFailure));
    // What came in clear after the 220 is not the server's: it is dropped.
    c.send.streamRestarted = 1;
    Hello(c, true);
    return 0;
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
    // A failed send shows up as a failed receive at the next step.
    socket_stream_send(c.mail.socket, c.mail.tls, command, length);
    return true;
}

int smtp_reply_line(Connection& c) {
    const char* line = c.line;
    const int step = c.workerResult;
    if (step == kSmtpEhloSent && strncmp(line, "250", 3) == 0) {
        if (strlen(line) > 4) NoteOffer(c, line + 4);
        return line[3] == '-' ? 0 : AfterHello(c);
    }
    // A positive reply counts at its last line (a refusal at its first, where
    // the reason usually stands).
    const bool more = strlen(line) > 3 && line[3] == '-';
    if (more && (line[0] == '2' || line[0] == '3')) return 0;
    if (strncmp(line, "220", 3) == 0) {
        if (step == kSmtpStartTlsSent) return StartTlsAnswered(c);
        if (step != kSmtpAwaitGreeting) return 0;
        // The status line first: a refused HELO writes the error block.
        SendStatus(c, 200);
        // The plain exchange keeps HELO; EHLO only where its offers matter.
        Hello(c, c.send.security != static_cast<uint8_t>(SmtpSecurity::None) || c.send.authWanted);
        return 0;
    }
    if (strncmp(line, "334", 3) == 0) {
        const OutgoingMail& m = c.send;
        if (step == kSmtpAuthXoauth2Ask) {
            c.workerResult = kSmtpAuthXoauth2;
            SendSaslResponse(c, "");
        } else if (step == kSmtpAuthXoauth2) {
            // A refused token: the challenge holds the server's JSON error,
            // an empty line answers it and the 5xx follows.
            const std::string text = xoauth2_challenge_text(strlen(line) > 4 ? line + 4 : "");
            snprintf(c.saslDetail, sizeof c.saslDetail, "%s", text.c_str());
            c.workerResult = kSmtpAuthXoauth2Refused;
            smtp_send(c, "\r\n");
        } else if (step == kSmtpAuthLoginUser) {
            c.workerResult = kSmtpAuthLoginPass;
            SendBase64(c, m.authUser, static_cast<int>(strlen(m.authUser)), "");
        } else if (step == kSmtpAuthLoginPass) {
            c.workerResult = kSmtpAuthSent;
            SendBase64(c, m.authPassword, static_cast<int>(strlen(m.authPassword)), "");
        } else {
            // A challenge nobody asked for: cancel the login.
            smtp_send(c, "*\r\n");
        }
        return 0;
    }
    if (strncmp(line, "235", 3) == 0 && (step == kSmtpAuthSent || step == kSmtpAuthXoauth2)) {
        MailFrom(c);
        return 0;
    }
    if (strncmp(line, "250", 3) == 0) {
        switch (step) {
        case kSmtpHeloSent:
            MailFrom(c);
            return 0;
        case kSmtpRcptTo:
        case kSmtpRcptCc:
        case kSmtpRcptBcc:
            NextRecipient(c);
            return 0;
        case kSmtpMessageSent:
            c.workerResult = kSmtpQuitSent;
            smtp_send(c, "QUIT\r\n");
            AppendSentLog(c);
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
    // A refused QUIT ends the exchange like an accepted one: the page
    // already says how it went, and answering with another error block
    // and QUIT would go on as long as the server kept refusing.
    if ((line[0] == '5' || line[0] == '4') && step == kSmtpQuitSent) return 1;
    if ((line[0] == '5' || line[0] == '4') && step == kSmtpAuthXoauth2Refused && c.saslDetail[0]) {
        const std::string both = std::string(line) + " " + c.saslDetail;
        Refuse(c, both.c_str());
    } else if (line[0] == '5' || line[0] == '4') {
        Refuse(c, line);
    }
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
            if (c.send.streamRestarted) {
                c.send.streamRestarted = 0;
                return 0;
            }
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
