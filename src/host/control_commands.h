// Administration commands carried out inside the running gateway, with the
// effects a change has on a running gateway (a new listening port, a new
// shared address book).
#pragma once
#include "base/home.h"
#include "host/control_socket.h"

// The home of the running gateway; set by serve before the socket opens.
void SetControlHome(const HomePaths& paths);
ControlReply RunControlCommand(const std::vector<std::string>& words,
                               std::deque<std::string> input);
