// What a compose form post and its SMTP exchange keep per connection: the
// recipient lists as posted and the header lines formed from them, which
// the result page and the sent-mail log show as they are held.
#pragma once
#include <cstdint>

constexpr int kSendFieldSize = 300;
// "Subject: " or "From: " plus a 299-byte value and CR LF.
constexpr int kHeaderLineSize = 320;

struct OutgoingMail {
    // From the page's address: the To of a compose link, and the token of
    // the sent mail a resend form starts from.
    char linkTo[kSendFieldSize];
    char sentToken[kSendFieldSize];
    char sendTo[kSendFieldSize];
    char sendCc[kSendFieldSize];
    char sendBcc[kSendFieldSize];
    char sendSubject[kSendFieldSize];
    char sendFrom[kSendFieldSize];
    // "To: %s\r\n" and its siblings, unencoded.
    char toLine[kHeaderLineSize];
    char ccLine[kHeaderLineSize];
    char bccLine[kHeaderLineSize];
    char subjectLine[kHeaderLineSize];
    char fromLine[kHeaderLineSize + kSendFieldSize];
    // "YYYY/MM/DD hh:mm:ss" of the sent-log entry being written or shown.
    char dateLine[64];
    // The recipient walk of the SMTP exchange: 0 To, 1 Cc, 2 Bcc, and the
    // byte offset inside that list.
    uint16_t recipientList;
    int recipientCursor;
    // Set once the success page has been written.
    uint16_t successShown;
    // A posted To, Cc or Bcc value held a CR, LF or NUL: the lists are not
    // what was typed, and the recipient check refuses them.
    uint16_t recipientBroken;
    // How the exchange reaches its server (an SmtpSecurity value, whether
    // certificates are checked, whether to log in), and what EHLO offered.
    uint8_t security;
    uint8_t verify;
    uint8_t authWanted;
    uint8_t offers;          // kOffer* bits of the last EHLO reply
    uint8_t streamRestarted; // bytes read before STARTTLS must be dropped
    uint8_t oauth;           // AUTH XOAUTH2 with Connection::saslResponse
    // The login of the AUTH exchange, copied when the exchange starts: the
    // set's POP3 login, or an SMTP login of its own.
    char authUser[128];
    char authPassword[128];
};

enum : uint8_t {
    kOfferStartTls = 1,
    kOfferAuthPlain = 2,
    kOfferAuthLogin = 4,
    kOfferAuthXoauth2 = 8
};
