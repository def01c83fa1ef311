// The one staging buffer between the composed message and the SMTP socket.
#pragma once
#include <cstddef>
#include <string>

constexpr size_t kSmtpStageSize = 4096;

class SmtpStage {
public:
    // Bytes go to fd; with a capture string (tests) they are appended there
    // instead.
    explicit SmtpStage(int fd, std::string* capture = nullptr) : fd_(fd), capture_(capture) {}
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
    std::string* capture_;
    bool failed_ = false;
    size_t used_ = 0;
    char buffer_[kSmtpStageSize];
};
