// The socket side of a poppassd exchange, shared by the worker and the
// command-line form.
#pragma once
#include "mail/compose/outgoing.h"
#include "mail/poppassd/poppassd_exchange.h"
#include <atomic>
#include <cstdint>
#include <sys/socket.h>

// Connects fd to address, waiting at most timeoutSeconds; a negative or zero
// time-out waits one second. fd is blocking again afterwards. Returns false
// when the connection failed or took too long.
bool poppassd_connect(int fd, const sockaddr_storage& address, int timeoutSeconds);

// Sends x's commands to fd (x.send and x.sendContext are set here; fd must
// outlive the call) and feeds it what arrives, until the reply to QUIT, the
// server closing, a socket error, or stallSeconds without a complete reply
// line. After every received block x.step is stored into step and the local
// time into activity when they are given. x.step is the outcome.
void poppassd_converse(int fd, PoppassdExchange& x, int stallSeconds, std::atomic<uint16_t>* step,
                       std::atomic<int32_t>* activity);
