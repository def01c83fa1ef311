// The HTTP server's skeleton: listening socket, the Listener that accepts,
// one thread per connection and the Monitor that ends idle connections and
// frees finished ones.
#pragma once
#include "base/connection_count.h"
#include "page/connection.h"
#include "page/connection_list.h"
#include <atomic>

struct ssl_ctx_st;

extern std::atomic<bool> serverRunning;
// Bounds a client may not pass (seconds). The request bound covers clients
// that connect and never finish their request.
extern std::atomic<int> idleTimeoutSeconds;    // 600
extern std::atomic<int> requestTimeoutSeconds; // 60
// At this many open connections a newcomer takes the place of the one that
// has waited longest without finishing its request; when every connection
// has finished its request, the newcomer gets "Busy!\r\n". The request
// time-out also bounds a send that the client takes no byte of.
extern std::atomic<int> maxConnections;

// A TCP socket at port, listening on the address SetListenAddress chose, or
// on every local address (IPv6 and IPv4) when none was chosen. Returns the
// socket or -1 (errno set).
int OpenListenSocket(int port);
// Makes OpenListenSocket bind only to numeric, one IPv4 or IPv6 address
// written as digits ("127.0.0.1", "::1"); no name is looked up. Returns
// false and changes nothing for any other text. Called before the server
// starts; a changed http_port keeps the address.
bool SetListenAddress(const char* numeric);
// The host part of a URL that reaches the listener: the chosen address
// ("[::1]" for IPv6), or 127.0.0.1 while every address listens.
const char* ListenUrlHost();
// Where a further listener (HTTPS) listens: its own address and port,
// independent of SetListenAddress and http_port.
struct ListenEndpoint {
    sockaddr_storage address{};
    socklen_t length = 0; // 0: every local address
    int port = 0;
    char urlHost[48] = "127.0.0.1"; // as ListenUrlHost
};
// "ADDRESS:PORT" with a numeric IPv4 address, "[IPv6]:PORT", or "PORT",
// ":PORT" and "*:PORT" for every local address; no name is looked up.
bool ParseListenEndpoint(const char* text, ListenEndpoint& out);
// A socket listening at e, or -1 (errno set).
int OpenEndpointSocket(const ListenEndpoint& e);
// Starts the Monitor and the Listener on sock.
void StartServer(int sock);
// After StartServer: a second listener on sock whose connections speak TLS
// with context (kept until the process ends).
void StartHttpsListener(int sock, ssl_ctx_st* context);
// Switches to a new listening socket (already open); the old one is closed.
void RestartListener(int sock);
// Stops accepting, ends every connection, waits for all threads.
void StopServer();

// One receive step of a connection: -1 peer gone or error, 0 more wanted,
// 1 request complete and evaluated.
int ReceiveStep(Connection& c);
