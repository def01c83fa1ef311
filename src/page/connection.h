// The per-connection context shared by the connection's thread, the monitor
// and an attached mail worker.
#pragma once
#include "base/pooled_thread.h"
#include "page/client_stream.h"
#include "page/page_state.h"
#include "store/login_sessions.h"
#include "store/request_session.h"
#include "store/user_record.h"
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <sys/socket.h>
#include <thread>

struct ssl_st;

// The records the page families, the body reader, the file sender and the
// output filter own. The context only refers to them, so that it stands
// below the code that fills them; they share its block of memory.
struct BookProgress;
struct FileAnswer;
struct FormReading;
struct ListProgress;
struct MailLink;
struct MimeState;
struct OutgoingMail;
struct OutputFilterState;
struct Pop3Exchange;
struct ViewProgress;

constexpr int kLineSize = 4096;
constexpr int kFieldSize = 300;
constexpr int kQuotationTextSize = 128000;
constexpr int kFormSlots = 31;
constexpr int kMaxUploads = 10;
constexpr int kMessageTextSize = 128000;
// Room for the text plus the CRLF after its last line.
constexpr int kMessageTextLimit = 127984;
// Files written from line-sized pieces (uploads, saved parts) go out in
// blocks of this size.
constexpr int kFileBufferSize = 65536;
// Access tokens of some providers run to a few kilobytes.
constexpr int kSaslResponseSize = 8192;

constexpr int kSendStageSize = 16384;

// The records the context refers to, each owned by the code that fills it.
struct ConnectionRecords {
    // The file being served.
    FileAnswer& download;
    // The request body's reader.
    FormReading& form;
    // The mail worker's link to its server.
    MailLink& mail;
    // The fields each page family owns.
    Pop3Exchange& pop3;
    MimeState& mime;
    ListProgress& list;
    ViewProgress& view;
    OutgoingMail& send;
    BookProgress& book;
    OutputFilterState& filter;
};

struct Connection : ConnectionRecords {
    explicit Connection(const ConnectionRecords& r) : ConnectionRecords(r) {}

    Connection* next;
    ClientStream client;
    std::atomic<PageState> state;
    Route route;
    uint16_t auth;
    std::atomic<uint16_t> workerResult;
    int16_t uploadCount;
    uint16_t browser;
    uint16_t english;
    int16_t settingsIndex;
    int32_t itemNumber;
    int file;         // open file descriptor, -1 when none
    int fileBuffered; // bytes waiting in fileBuffer for it
    PooledThread workerThread;
    std::atomic<bool> workerRunning;
    std::thread connectionThread;
    std::atomic<bool> connectionThreadEnded;
    int32_t bodyRemaining;
    int32_t messageLength;
    int32_t lineLength;
    std::atomic<int32_t> lastActivity;   // local seconds
    std::atomic<int64_t> receiveStarted; // monotonic ms when the request began
    // Dropped for a newcomer while the table was full (crowding.h).
    std::atomic<bool> gaveWay;
    int32_t listTimeField;
    UserRecord* user;
    Connection* parent;
    sockaddr_storage clientAddress;
    char userName[40];
    char password[40];
    // Seconds the login throttle made this request's login wait; shown on
    // the refusal so that the user knows when to try again.
    int throttleWait;
    RequestSession session;
    uint8_t crossSite;    // Sec-Fetch-Site said another site sent the request
    uint8_t proxied;      // a trusted proxy named the client
    uint8_t proxiedHttps; // ... and said the browser spoke HTTPS to it
    uint8_t showImages;   // the user asked for a message's pictures from the web
    // For a redirect to HTTPS and the language switch: the request's target
    // and Host, as sent, and whether it was a POST.
    char redirectTarget[512];
    uint8_t posted;
    char redirectHost[128];
    char uploadNames[kMaxUploads][kFieldSize];
    char loginQuery[40 + 40];
    uint8_t statusSent; // the status line and header block are out
    // The connection's thread waits here for its worker instead of looking
    // every 10 ms; the count tells a wake it slept through.
    // Page bytes gathered into whole segments: a list of 10,000 rows was
    // 20,000 send calls. Flushed when the writer is about to wait (for the
    // mail server, for its worker) and at the end, so pages still stream.
    std::mutex stageLock;
    int staged;
    char stage[kSendStageSize];
    std::mutex wakeLock;
    std::condition_variable wake;
    uint32_t wakeCount;

    // Where SendRaw writes when there is no socket: tests capture pages here.
    std::string* captureForTest;

    // The large work buffers come last: a reused context clears everything
    // above and only the first byte of each of these, so a request costs no
    // more memory traffic than it uses.
    char line[kLineSize];
    // The name of the form field being read, for its handler.
    char fieldName[kLineSize];
    char receiveBuffer[kLineSize];
    char deleteList[kLineSize];
    char formSlots[kFormSlots][kFieldSize];
    char messageText[kMessageTextSize];
    char quotationText[kQuotationTextSize]; // text collected for a reply
    char fileBuffer[kFileBufferSize];       // bytes for c.file not yet written
    // An OAuth2 login: the base64 XOAUTH2 response the worker formed before
    // it connected (empty when no token could be had, saslDetail then says
    // why), and the text of the server's refusal challenge.
    char saslResponse[kSaslResponseSize];
    char saslDetail[512];
};

// A zeroed context for an accepted socket (or -1 for an extra worker or a
// test). Large buffers are left untouched by the allocation so idle
// connections cost little memory. Returns null when memory is short.
// Defined in server/listener/connection_block.cpp, where the records the
// context refers to are known.
Connection* NewConnection(int clientSocket);
void FreeConnection(Connection* c);

// Sends the staged page bytes now.
void FlushClient(Connection& c);
// The page is complete: sends what is staged and ends the stream to the
// browser at once, rather than after the connection's thread has been
// woken and scheduled, which on a busy machine is milliseconds.
void EndAnswer(Connection& c);

// The count of wakes so far, taken before a look at the connection's state.
uint32_t WakeCount(Connection& c);
// Wakes the connection's thread now rather than at its next look.
void WakeConnection(Connection& c);
// A worker's last touch of c: clears workerRunning and wakes the thread
// waiting for it (which joins the worker before c can be freed).
void WorkerFinished(Connection& c);
// Waits at most ms for a wake after the one counted as seen.
void WaitForWake(Connection& c, uint32_t seen, int ms);

// Writes bytes to the client; failures are ignored (the client went away and
// the page completes into the void).
void SendRaw(Connection& c, const char* bytes, size_t n);
void SendRaw(Connection& c, const char* text);
