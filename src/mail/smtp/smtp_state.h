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
    kSmtpConnectFailed = 20,
    kSmtpHostNotFound = 21,
};
