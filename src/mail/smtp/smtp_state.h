// Steps of the SMTP exchange, held in Connection::workerResult.
#pragma once
#include <cstdint>

enum SmtpState : uint16_t {
    kSmtpConnecting = 0,
    kSmtpAwaitGreeting = 1,
    kSmtpHeloSent = 2,
    kSmtpRcptTo = 3,
    kSmtpRcptCc = 4,
    kSmtpRcptBcc = 5,
    kSmtpDataSent = 7,
    kSmtpMessageSent = 8,
    kSmtpQuitSent = 9,
    kSmtpEhloSent = 10,
    kSmtpStartTlsSent = 11,
    kSmtpAuthSent = 12,      // AUTH PLAIN with its response, or the password of LOGIN
    kSmtpAuthLoginUser = 13, // AUTH LOGIN sent, the user name is asked for next
    kSmtpAuthLoginPass = 14,
    kSmtpAuthXoauth2 = 15,        // AUTH XOAUTH2 with its response
    kSmtpAuthXoauth2Refused = 16, // the refusal's challenge was answered
    kSmtpAuthXoauth2Ask = 17,     // "AUTH XOAUTH2" alone, the response follows the 334
    kSmtpConnectFailed = 20,
    kSmtpHostNotFound = 21,
    kSmtpTlsFailed = 22,
};
