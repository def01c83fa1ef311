#include "admin/secret_input.h"
#include "admin/admin_output.h"

#include <cstdio>
#include <iostream>
#include <termios.h>
#include <unistd.h>

bool read_secret_line(const char* prompt, std::string& line_r) {
    if (admin_take_input(line_r)) return true;
    const bool terminal = isatty(STDIN_FILENO) != 0;
    termios saved{};
    if (terminal) {
        // Echo goes off before the prompt shows, so that nothing typed in
        // answer to it can appear.
        tcgetattr(STDIN_FILENO, &saved);
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
        fprintf(stderr, "%s", prompt);
        fflush(stderr);
    }
    const bool got = static_cast<bool>(std::getline(std::cin, line_r));
    if (terminal) {
        tcsetattr(STDIN_FILENO, TCSANOW, &saved);
        fprintf(stderr, "\n");
    }
    if (!line_r.empty() && line_r.back() == '\r') line_r.pop_back();
    return got;
}
