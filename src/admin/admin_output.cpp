#include "admin/admin_output.h"

#include <cstdio>

namespace {

thread_local AdminCapture* tCapture = nullptr;

} // namespace

AdminCapture::AdminCapture(std::deque<std::string> lines, bool inServer)
    : input(std::move(lines)), inServer(inServer), outer_(tCapture) {
    tCapture = this;
}

AdminCapture::~AdminCapture() {
    tCapture = outer_;
}

void admin_out(const std::string& line) {
    if (tCapture) {
        tCapture->out += line + "\n";
        return;
    }
    fprintf(stdout, "%s\n", line.c_str());
    fflush(stdout);
}

void admin_err(const std::string& line) {
    if (tCapture) {
        tCapture->err += line + "\n";
        return;
    }
    fprintf(stderr, "%s\n", line.c_str());
}

bool admin_take_input(std::string& line) {
    if (!tCapture || tCapture->input.empty()) return false;
    line = tCapture->input.front();
    tCapture->input.pop_front();
    return true;
}

bool admin_in_server() {
    return tCapture && tCapture->inServer;
}
