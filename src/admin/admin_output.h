// Where administration commands write their messages and read typed input:
// the terminal, or — for a command a running gateway carries out on behalf
// of `tarnbox` — the reply that goes back to the asking command.
#pragma once
#include <deque>
#include <string>

// One line (UTF-8, the line end added) to standard output or standard error.
void admin_out(const std::string& line);
void admin_err(const std::string& line);
// The next line of typed input, when the command runs inside the gateway with
// the input the asking command collected. False outside such a run or when no
// line is left.
bool admin_take_input(std::string& line);
// True while a command runs inside the gateway (its store is the live one).
bool admin_in_server();

// Collects what the commands of this thread write, and feeds them the given
// input, until it goes out of scope.
class AdminCapture {
public:
    AdminCapture(std::deque<std::string> input, bool inServer);
    ~AdminCapture();
    AdminCapture(const AdminCapture&) = delete;
    AdminCapture& operator=(const AdminCapture&) = delete;

    std::string out;
    std::string err;
    std::deque<std::string> input;

    const bool inServer;

private:
    AdminCapture* outer_;
};
