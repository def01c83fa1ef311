// The one staging buffer between the composed message and the SMTP socket.
#pragma once
#include <cstddef>
#include <string>

// A large attachment is most of a message: its bytes go to the server in
// segments of this size (two TLS records), not in thousands of small sends.
constexpr size_t kSmtpStageSize = 32768;

struct ssl_st;

class SmtpStage {
public:
    // Bytes go to fd; with a capture string (tests) they are appended there
    // instead.
    // tls: the exchange's TLS session on fd, or none.
    SmtpStage(int fd, ssl_st* tls, std::string* capture = nullptr)
        : fd_(fd), tls_(tls), capture_(capture) {}
    ~SmtpStage() { flush(); }
    SmtpStage(const SmtpStage&) = delete;
    SmtpStage& operator=(const SmtpStage&) = delete;

    void put(const char* bytes, size_t n);
    void put(const char* text);
    void put(char b) {
        if (used_ == kSmtpStageSize) flush();
        buffer_[used_++] = b;
    }
    // Sends what is staged. After a failed send the rest is dropped: the
    // exchange notices the dead socket at its next receive.
    void flush();

private:
    int fd_;
    ssl_st* tls_;
    std::string* capture_;
    bool failed_ = false;
    size_t used_ = 0;
    char buffer_[kSmtpStageSize];
};
