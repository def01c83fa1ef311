#include "mail/compose/smtp_stage.h"
#include "base/socket_stream.h"
#include "mail/net/mail_tls.h"

#include <cerrno>
#include <cstring>
#include <sys/socket.h>

void SmtpStage::put(const char* bytes, size_t n) {
    while (n > 0) {
        if (used_ == kSmtpStageSize) flush();
        const size_t take = n < kSmtpStageSize - used_ ? n : kSmtpStageSize - used_;
        memcpy(buffer_ + used_, bytes, take);
        used_ += take;
        bytes += take;
        n -= take;
    }
}

void SmtpStage::put(const char* text) {
    put(text, strlen(text));
}

void SmtpStage::flush() {
    const char* p = buffer_;
    size_t left = used_;
    used_ = 0;
    if (capture_) {
        capture_->append(p, left);
        return;
    }
    if (!failed_ && left > 0) failed_ = !socket_stream_send(fd_, tls_, p, left);
}
