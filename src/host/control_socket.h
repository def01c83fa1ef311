// The running gateway's door for administration commands: a Unix socket in
// the home, open to the gateway's own user (and root) only. A command sends
// its words and the lines it already read from the terminal; the gateway
// carries it out in its own process and sends back the status and what the
// command wrote.
#pragma once
#include "base/home.h"
#include <deque>
#include <string>
#include <vector>

struct ControlReply {
    int status = 1;
    std::string out;
    std::string err;
};

// Carries out one command inside the gateway; installed by serve.
using ControlRunner = ControlReply (*)(const std::vector<std::string>& words,
                                       std::deque<std::string> input);

// Opens the socket and serves it on a thread of its own. False (with errno)
// when the socket cannot be made; the gateway then runs without it.
bool StartControlSocket(const std::string& path, ControlRunner runner);
void StopControlSocket();

// From a command: asks the gateway listening at path. Returns false when no
// gateway answers there (the command then runs by itself).
bool ForwardCommand(const std::string& path, const std::vector<std::string>& words,
                    const std::deque<std::string>& input, ControlReply& reply);
