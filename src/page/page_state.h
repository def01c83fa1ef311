// The state of a connection and the route of its request.
#pragma once
#include <cstdint>

enum class PageState : uint16_t {
    Receiving = 0x0001,
    TopPage = 0x0100,
    ListWait = 0x0200,
    MessageWait = 0x0201,
    ComposePage = 0x0202,
    SendWait = 0x0203,
    DeleteWait = 0x0204,
    AddressErrorPage = 0x0206,
    TextWait = 0x0210,
    SentListPage = 0x0280,
    SentMessagePage = 0x0281,
    SentDeletePage = 0x0282,
    SetupPage = 0x0300,
    SetupSubmit = 0x0301,
    SetupDeleteSubmit = 0x0302,
    SetupPasswordWait = 0x0303,
    AddressBookPage = 0x0380,
    AddressBookSubmit = 0x0381,
    NewUserPage = 0x0400,
    NewUserSubmit = 0x0401,
    NewUserCheckWait = 0x0402, // the POP3 server is asked about the new login
    DownloadStart = 0x0500,
    DownloadStream = 0x0501,
    StaticStream = 0x0510,
    LogoutPage = 0x0600,
    ExtraList2 = 0x0700,
    ExtraList3 = 0x0701,
    Done = 0x0800,
    Closing = 0x0801,
    WorkerDone = 0x0802,
    RemotePage = 0x0900,
    RemoteSubmit = 0x0901,
    OAuthConnect = 0x0A00,
    OAuthCallback = 0x0A01,
};

enum class Route : uint16_t {
    Top = 0,
    NewUser = 1,
    Setup = 2,
    Mail = 3,
    Write = 4,
    Logout = 6,
    SetupDelete = 7,
    Book = 8,
    Sent = 9,
    Attachment = 10,
    Static = 11,
    StaticHead = 12,
    Remote = 20,
    MailAsText = 30,
    OAuthConnect = 40,  // needs the login
    OAuthCallback = 41, // the state parameter stands for the login
    NotFound = 65535,
};

// Values of Connection::auth.
enum : uint16_t { kAuthNone = 0, kAuthOk = 1, kAuthRejected = 65535 };
// What a request's login waits on until its headers end.
enum : uint8_t { kSessionNone = 0, kSessionFromAddress = 1, kSessionFromAttachment = 2 };

// Bits of Connection::browser, from User-Agent.
enum : uint16_t {
    kBrowserMozilla2 = 0x01,
    kBrowserMsie = 0x02,
    kBrowserMsie5 = 0x04,
    kBrowserMac = 0x08,
    kBrowserMozilla3 = 0x20,
    kBrowserMozilla4 = 0x40,
    kBrowserMozilla5 = 0x80,
};

// Values of Connection::bodyMode.
enum : uint16_t {
    kBodyGetHeaders = 0,
    kBodyPostHeaders = 1,
    kBodyUrlencoded = 2,
    kBodyUrlencodedMessage = 3,
    kBodyPartHeaders = 4,
    kBodyPartField = 5,
    kBodyPartMessage = 6,
    kBodyPartFile = 7,
};

// Values of Connection::workerResult beyond the protocol steps.
// kWorkerTlsFailed: no secure connection could be made (MailLink::tlsFailure says why).
enum : uint16_t { kWorkerConnectFailed = 20, kWorkerNoServer = 21, kWorkerTlsFailed = 22 };
