// Arbitrary server replies into the SMTP exchange of a small message, whole
// and in chunks the first byte seeds: no overflow, the exchange never goes
// back to an earlier step by itself, and both feeds send the same commands.
// Run it with ASAN_OPTIONS=detect_leaks=0: freed contexts are kept for reuse.
// The commands are read back only between feeds, so a whole feed queues
// every command it sends in the socket: each small write holds about a
// kilobyte of its buffer, and a write the full socket refused would look
// like a command the reader never sent. The buffer is made large, and an
// input that still comes near filling it proves nothing and is passed over.
#include <linux/sockios.h>
#include <sys/ioctl.h>

#include "fuzz.h"
#include "mail/compose/outgoing.h"
#include "mail/net/mail_link.h"
#include "mail/smtp/smtp_client.h"
#include "mail/smtp/smtp_state.h"
#include "store/data_file.h"

namespace {

struct Run : SocketPair, Captured {
    int over = 0;
    int buffer = 0;     // the send buffer the kernel granted
    int peakQueued = 0; // the most it held before a drain

    Run() {
        int want = 4 << 20;
        socklen_t length = sizeof buffer;
        setsockopt(end[0], SOL_SOCKET, SO_SNDBUF, &want, sizeof want);
        check(getsockopt(end[0], SOL_SOCKET, SO_SNDBUF, &buffer, &length) == 0);
        c->user = &Taro();
        strcpy(c->userName, "taro");
        c->mail.socket = end[0];
        c->state = PageState::SendWait;
        strcpy(c->send.sendTo, "a@b.c,,Bob <b@b.c>");
        strcpy(c->send.sendCc, "c@b.c");
        strcpy(c->messageText, "hello\r\n.\r\n");
        smtp_recipient_lines(*c);
        c->workerResult = kSmtpAwaitGreeting;
    }
    // True when a command may have found the socket full.
    bool mayHaveLost() const { return peakQueued > buffer / 4 * 3; }
    void feed(const uint8_t* data, size_t n) {
        if (over) return;
        const uint16_t before = c->workerResult;
        over = smtp_feed(*c, reinterpret_cast<const char*>(data), n);
        int queued = 0;
        check(ioctl(end[0], SIOCOUTQ, &queued) == 0);
        peakQueued = std::max(peakQueued, queued);
        drain();
        check(c->lineLength >= 0 && c->lineLength < kLineSize);
        check(c->workerResult >= before || before == kSmtpQuitSent);
        check(c->send.recipientList <= 2);
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    strcpy(data_store().settings.smtp_server, "mail.example.jp");
    FeedWholeAndSplit<Run>(data, size, 13, [](const Run& whole, const Run& split) {
        if (whole.mayHaveLost() || split.mayHaveLost()) return;
        check(whole.sent == split.sent);
        check(whole.c->workerResult == split.c->workerResult);
    });
    return 0;
}
