// The HTTP server's skeleton: listening socket, the Listener that accepts,
// one thread per connection and the Monitor that ends idle connections and
// frees finished ones.
#pragma once
#include "server/connection.h"
#include <atomic>

extern std::atomic<bool> serverRunning;
// Bounds a client may not pass (seconds). The request bound covers clients
// that connect and never finish their request.
extern std::atomic<int> idleTimeoutSeconds;    // 600
extern std::atomic<int> requestTimeoutSeconds; // 60
// Beyond this many open connections a newcomer gets "Busy!\r\n".
extern std::atomic<int> maxConnections;

// A TCP socket on every local address (IPv6 and IPv4) at port, listening.
// Returns the socket or -1 (errno set).
int OpenListenSocket(int port);
// Starts the Monitor and the Listener on sock.
void StartServer(int sock);
// Switches to a new listening socket (already open); the old one is closed.
void RestartListener(int sock);
// Stops accepting, ends every connection, waits for all threads.
void StopServer();

void AppendConnection(Connection* c);
bool InConnectionList(const Connection* c);
int ConnectionCount();

// One receive step of a connection: -1 peer gone or error, 0 more wanted,
// 1 request complete and evaluated.
int ReceiveStep(Connection& c);

// Called by StopServer for every user once the threads are gone; the reading
// side installs the deletion of the users' temp files.
extern void (*DeleteUserFiles)(UserRecord* user);
